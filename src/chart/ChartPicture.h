#pragma once

#include <QImage>
#include <QString>

// Saving the chart's picture as a Windows bitmap.
namespace ChartPicture {

// Where Save writes: "c:\databmp.bmp" on Windows, databmp.bmp in the working directory elsewhere,
// as a full path in the system's own notation.
QString defaultPath();

// Writes `picture` to `path` as a bitmap, replacing any file there. On failure *error is
// "Cannot create file <path>" and false is returned.
bool save(const QImage& picture, const QString& path, QString* error = nullptr);

}  // namespace ChartPicture
