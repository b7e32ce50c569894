// The program's own artwork, drawn as vectors so it stays sharp at any scale: the splash
// picture and the window icon (a quill over a sheet of paper).
#pragma once

#include <QIcon>
#include <QPainter>
#include <QRectF>

namespace quillmark::gui {

// The splash picture, filling rect (320 x 312 design pixels). The band from 64 to 201 design
// pixels down is kept quiet: the splash memo's lines are written over it.
void PaintSplashPicture(QPainter& painter, const QRectF& rect);

// The quill alone, fitted into rect.
void PaintQuill(QPainter& painter, const QRectF& rect, const QColor& ink);

QIcon QuillmarkIcon();

} // namespace quillmark::gui
