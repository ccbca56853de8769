#include "ChartPicture.h"

#include <QDir>
#include <QImageWriter>

namespace ChartPicture {

QString defaultPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\databmp.bmp");
#else
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("databmp.bmp")));
#endif
}

bool save(const QImage& picture, const QString& path, QString* error) {
    QImageWriter writer(QDir::fromNativeSeparators(path), "bmp");
    if (picture.isNull() || !writer.write(picture)) {
        if (error) *error = QStringLiteral("Cannot create file ") + path;
        return false;
    }
    return true;
}

}  // namespace ChartPicture
