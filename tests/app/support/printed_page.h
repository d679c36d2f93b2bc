#pragma once
// A printed page read back: the PDF rendered by pdftoppm (poppler-utils), and the box of
// everything on it that is not white, which is the framed picture.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <gtest/gtest.h>

#include <optional>

namespace korv::test {

struct PrintedPage {
    QSize size;
    QRect inked;
};

// The first page of `pdf` at 40 dots per inch, rendered to `prefix`.png; nothing when it
// cannot be rendered.
inline std::optional<PrintedPage> readPrintedPage(const QString& pdf, const QString& prefix) {
    if (QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
                           QStringLiteral("-singlefile"), pdf, prefix}) != 0) {
        return std::nullopt;
    }
    const QImage page(prefix + QStringLiteral(".png"));
    if (page.isNull()) {
        return std::nullopt;
    }
    PrintedPage printed{page.size(), {}};
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (page.pixel(x, y) != qRgb(255, 255, 255)) {
                printed.inked |= QRect(x, y, 1, 1);
            }
        }
    }
    return printed;
}

// The picture of width x height pixels is there, in the middle of the page, undistorted.
inline void expectCentredPicture(const PrintedPage& page, int width, int height) {
    ASSERT_FALSE(page.inked.isEmpty());
    EXPECT_NEAR(page.inked.center().x(), page.size.width() / 2, 3);
    EXPECT_NEAR(page.inked.center().y(), page.size.height() / 2, 3);
    EXPECT_NEAR(static_cast<double>(page.inked.width()) / page.inked.height(),
                static_cast<double>(width) / height, 0.05);
}

} // namespace korv::test
