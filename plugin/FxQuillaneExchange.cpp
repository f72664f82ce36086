// Button 2 and the answer that comes back: the effect's side of the exchange
// with the Quillane desktop application (plugin/DesktopExchange.h does the
// record and file work).
#include <syslog.h>

#include "plugin/DesktopExchange.h"
#include "plugin/FxQuillane.h"

std::unique_ptr<FxBitmap> FxQuillane::frameOfLastRender(unsigned depth, unsigned qualityLevel) const {
    FxCustomParameterActionAPI* actions = service<FxCustomParameterActionAPI>();
    FxTemporalImageAPI* images = service<FxTemporalImageAPI>();
    FxRenderInfo info;
    info.time = actions ? actions->currentTime() : _currentTime;
    info.qualityLevel = qualityLevel;
    info.scaleX = 1.0;
    info.scaleY = 1.0;
    info.depth = depth;
    std::unique_ptr<FxBitmap> bitmap;
    if (!images || !images->getInputBitmap(&bitmap, info, _currentTime) || !bitmap) {
        syslog(LOG_ERR, "bitmap not exist");
        return nullptr;
    }
    return bitmap;
}

std::string FxQuillane::exchangeFailure() const {
    // The records were made (or not) when the instance started; the file
    // named is the first that could not be.
    for (const std::string* failure : {_fileMapping ? &_fileMapping->failure : nullptr,
                                       _lutFileMapping ? &_lutFileMapping->failure : nullptr})
        if (failure && !failure->empty()) return "the exchange file " + *failure;
    return exchangeAvailable() ? std::string() : "the exchange files were not made";
}

void FxQuillane::openQuillane() {
    const std::unique_ptr<FxBitmap> bitmap = frameOfLastRender(kFxDepth_FLOAT32, kFxQuality_HIGH);
    if (!bitmap) {
        _actionFailure = "there is no current frame to send";
        return;
    }
    if (!exchangeAvailable()) {
        _actionFailure = "the frame cannot be sent to the desktop program: " + exchangeFailure();
        return;
    }

    ImageMapping* image = _fileMapping ? _fileMapping->data : nullptr;
    LutMapping* lut = _lutFileMapping ? _lutFileMapping->data : nullptr;
    std::string why;
    switch (desktop_exchange::sendToDesktop(image, lut, static_cast<std::uint32_t>(_currentPluginID), *bitmap,
                                            _preset, _name, _lutSavePresetFilePath, &why)) {
    case desktop_exchange::SendResult::NotSent:
        _actionFailure = "the frame cannot be sent to the desktop program: " + why;
        break;
    case desktop_exchange::SendResult::Modal: checkLutMapping(); break;
    case desktop_exchange::SendResult::NonModal: _isRunCheck = true; break;
    }
    if (_actionFailure.empty() && !why.empty()) _actionFailure = why;
}

void FxQuillane::checkLutMapping() {
    ImageMapping* image = _fileMapping ? _fileMapping->data : nullptr;
    LutMapping* lut = _lutFileMapping ? _lutFileMapping->data : nullptr;
    desktop_exchange::DesktopAnswer answer;
    const auto result = desktop_exchange::takeAnswer(image, lut, static_cast<std::uint32_t>(_currentPluginID),
                                                     _lutPresetFilePath, &answer);
    if (result == desktop_exchange::AnswerResult::None) return;
    _isRunCheck = false;  // an answer came, usable or not
    if (result != desktop_exchange::AnswerResult::Taken) return;

    takeLut(std::move(answer.lut), answer.preset ? std::move(*answer.preset) : _preset, std::move(answer.name));
}
