#pragma once
// The row views an effect gives the host for its custom parameters: a plain
// view with a frame and subviews, a text field and a push button. The host
// shows them (here: lists them) and passes clicks on to the button's action.
//
// Views are shared: the host holds the row, the row holds its controls, and
// the effect may keep a control of its own (the label it updates). The target
// is not held; the host drops an instance's views before the instance.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct NSRect {
    double x = 0, y = 0, width = 0, height = 0;
};
inline NSRect NSMakeRect(double x, double y, double width, double height) { return {x, y, width, height}; }
inline bool operator==(const NSRect& a, const NSRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// The platform's small system font size, in points.
constexpr double kSmallSystemFontSize = 11.0;

class NSView {
public:
    explicit NSView(NSRect frame) : frame_(frame) {}
    virtual ~NSView() = default;
    NSView(const NSView&) = delete;
    NSView& operator=(const NSView&) = delete;

    const NSRect& frame() const { return frame_; }
    void setFrame(NSRect frame) { frame_ = frame; }
    void addSubview(std::shared_ptr<NSView> view) { subviews_.push_back(std::move(view)); }
    const std::vector<std::shared_ptr<NSView>>& subviews() const { return subviews_; }

private:
    NSRect frame_;
    std::vector<std::shared_ptr<NSView>> subviews_;
};

// A control with a font, an enabled state and a target-action pair. The action
// stands for the selector sent to the target; the target is only remembered.
class NSControl : public NSView {
public:
    using NSView::NSView;
    double fontSize() const { return fontSize_; }
    void setFontSize(double size) { fontSize_ = size; }
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    const void* target() const { return target_; }
    void setTarget(const void* target) { target_ = target; }
    bool hasAction() const { return static_cast<bool>(action_); }
    void setAction(std::function<void()> action) { action_ = std::move(action); }
    // Sends the action, as a click or a return key would; a disabled control sends nothing.
    bool sendAction() {
        if (!enabled_ || !action_) return false;
        action_();
        return true;
    }

private:
    double fontSize_ = 13.0;
    bool enabled_ = true;
    const void* target_ = nullptr;
    std::function<void()> action_;
};

class NSTextField : public NSControl {
public:
    using NSControl::NSControl;
    const std::string& stringValue() const { return stringValue_; }
    void setStringValue(std::string text) { stringValue_ = std::move(text); }
    bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }

private:
    std::string stringValue_;
    bool editable_ = true;
};

class NSButton : public NSControl {
public:
    using NSControl::NSControl;
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    unsigned bezelStyle() const { return bezelStyle_; }
    void setBezelStyle(unsigned style) { bezelStyle_ = style; }
    // A click: the action runs when the button is enabled.
    bool performClick() { return sendAction(); }

private:
    std::string title_;
    unsigned bezelStyle_ = 1;
};
