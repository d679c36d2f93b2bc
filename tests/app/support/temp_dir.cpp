#include "app/support/temp_dir.h"

#include <QDir>
#include <QFile>

namespace korv::test {

TempDir::TempDir() : dir_(QDir::tempPath() + QStringLiteral("/korv-test-XXXXXX")) {}

QString TempDir::file(const QString& name) const {
    return dir_.filePath(name);
}

QString TempDir::write(const QString& name, const QByteArray& bytes) const {
    QFile out(file(name));
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
        return {};
    }
    return out.fileName();
}

QByteArray TempDir::read(const QString& path) {
    QFile in(path);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace korv::test
