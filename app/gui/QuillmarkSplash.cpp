#include "app/gui/QuillmarkSplash.h"

#include "app/gui/QuillmarkArt.h"
#include "platform/CodePage.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTextCursor>
#include <QTextDocument>

namespace quillmark::gui {

TMemoTransparent::TMemoTransparent(QWidget* parent) : QPlainTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setReadOnly(true);
    setFocusPolicy(Qt::NoFocus);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Window, Qt::transparent);
    setPalette(pal);
    setBackgroundVisible(false);
}

TFsplash::TFsplash() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName("Fsplash");
    setFixedSize(Dp(320), Dp(312));
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(Dp(13));
    setFont(font);
    memo_ = new TMemoTransparent(this);
    memo_->setObjectName("MTinfo");
    memo_->setGeometry(0, Dp(64), Dp(321), Dp(137));
    QPalette pal = memo_->palette();
    pal.setColor(QPalette::Text, QColor(0x1f, 0x2a, 0x4a));
    memo_->setPalette(pal);
    memo_->setPlainText(QString()); // the lines start as one empty line
}

void TFsplash::ShowNow() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    // Only painting: no input is handled while start-up runs.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
}

void TFsplash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintSplashPicture(p, QRectF(0, 0, width(), height())); // Image1, covering the window
}

void AddSplashLine(TFsplash& splash, const std::string& text) {
    // Always a new last line: appending to an empty memo would fill its first, empty line.
    QTextCursor cursor(splash.MTinfo()->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(QString::fromStdString(text));
    if (splash.isVisible()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        splash.repaint();
    }
}

} // namespace quillmark::gui
