#include "gallery/OpenUrl.h"

#include "desktop/boxer_osx.h"
#include "platform/launchservices/LaunchServices.h"

void openURL(const std::string& url) {
    const int result = launchservices::LSOpenURL(url);
    if (result == launchservices::kNoErr) return;
    std::string message;
    if (result == launchservices::kLSApplicationNotFoundErr)
        message = "No program to open web pages is installed (" + launchservices::urlOpenerProgram() +
                  "). Please open this address in your browser:\n" + url;
    else
        message = "This web page could not be opened:\n" + url;
    showBox(message.c_str(), "Open link", BoxStyle::Error, BoxButtons::OK);
}
