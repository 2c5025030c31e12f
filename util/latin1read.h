#pragma once

#include <QByteArray>
#include <QString>

// The text of one read from a web server: one character per byte (Latin-1), where a zero byte ends the text
// of that read and the bytes behind it are dropped.
QString latin1TextOfRead(QByteArray bytes);
