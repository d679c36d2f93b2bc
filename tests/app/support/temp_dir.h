#pragma once
// A fresh folder for one test, removed with everything in it when the test ends.

#include <QString>
#include <QTemporaryDir>

namespace korv::test {

class TempDir {
  public:
    TempDir();
    // True when the folder could be made; tests assert it before use.
    [[nodiscard]] bool valid() const { return dir_.isValid(); }
    // The folder, with '/' separators and no trailing '/'.
    [[nodiscard]] QString path() const { return dir_.path(); }
    // path() + "/" + name (the file itself is not created).
    [[nodiscard]] QString file(const QString& name) const;
    // Writes `bytes` to `name` and returns the full path (empty on failure).
    [[nodiscard]] QString write(const QString& name, const QByteArray& bytes) const;
    // The bytes of the file at `path`; empty when it cannot be read.
    [[nodiscard]] static QByteArray read(const QString& path);

  private:
    QTemporaryDir dir_;
};

} // namespace korv::test
