#pragma once
// The applet's pictures, drawn rather than shipped as files: the main icon
// ("MAINICON"), the small list icons of ImageList1 and the glyph of the add
// buttons. Drawing works on plain images, so a host without a running
// application object can still ask for the icon.

#include <QImage>
#include <string>

QImage MainIconImage(int size = 32);
// 0 standard server, 1 alias, 2 interpreter, 3 MIME type.
QImage ListIconImage(int index, int size = 16);
QImage AddGlyphImage(int size = 16);
// MAINICON as PNG file bytes, made once and kept for the library's life.
const std::string& MainIconPng();
