// The splash window TFsplash: a borderless picture centred on the screen with a transparent
// memo, MTinfo, that lists each start-up stage.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

#include <string>

namespace quillmark::gui {

// Sizes are design pixels at 120 pixels per inch; Qt's logical pixels are 96 per inch.
inline int Dp(int designPixels) { return (designPixels * 96 + 60) / 120; }

// A multi-line text that draws no background of its own, so that its parent's picture shows
// through. (Under Windows this takes a hollow brush and a repaint of the parent behind the
// control after every scroll or change; Qt composes child widgets over their parent, so a
// transparent base and viewport are all it needs.)
class TMemoTransparent : public QPlainTextEdit {
public:
    explicit TMemoTransparent(QWidget* parent = nullptr);
};

class TFsplash : public QWidget {
public:
    TFsplash();
    TMemoTransparent* MTinfo() { return memo_; }
    // Shows the window centred and gets it on screen at once (start-up runs no event loop).
    void ShowNow();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TMemoTransparent* memo_;
};

// Appends text as a new last line of the memo and shows it at once.
void AddSplashLine(TFsplash& splash, const std::string& text);

} // namespace quillmark::gui
