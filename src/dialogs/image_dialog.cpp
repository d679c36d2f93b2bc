#include "dialogs/image_dialog.h"

#include "dialogs/dialog_frame.h"
#include "output/image_encoding.h"
#include "platform/prompts.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace korv {
namespace {

constexpr int MOVED_UP = 30; // centred on the screen, then this much higher

} // namespace

ImageDialog::ImageDialog(ImageChoices& choices, QWidget* parent)
    : QDialog(parent), choices_(choices) {
    setObjectName(controlName(IMAGE_DIALOG_ID));
    setWindowTitle(QStringLiteral("Image Characteristics"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* formats = new QGroupBox(this);
    auto* formatRow = new QHBoxLayout(formats);
    auto* group = new QButtonGroup(this);
    // bitmap and jpeg first, as they always were, then png.
    std::vector<const ImageFormatInfo*> offered;
    for (const ImageFormatInfo& f : imageFormats()) {
        if (f.buttonId != 0) {
            offered.push_back(&f);
        }
    }
    std::ranges::sort(offered, {}, &ImageFormatInfo::buttonId);
    for (const ImageFormatInfo* info : offered) {
        const ImageFormatInfo& f = *info;
        auto* radio = new QRadioButton(
            QString::fromLatin1(f.buttonText.data(), static_cast<qsizetype>(f.buttonText.size())),
            formats);
        radio->setObjectName(controlName(f.buttonId));
        radio->setChecked(choices.format == f.format);
        group->addButton(radio, f.buttonId);
        formatRow->addWidget(radio);
    }
    // The checked button is the format, however it came to be checked.
    connect(group, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        const std::optional<ImageFormat> format = imageFormatOfButton(id);
        if (on && format) {
            choices_.format = *format;
            showFormat(*format);
        }
    });
    top->addWidget(formats);

    auto* qualityRow = new QHBoxLayout;
    auto* qualityLabel = new QLabel(QStringLiteral("JPEG Quality"), this);
    quality_ = new QScrollBar(Qt::Horizontal, this);
    qualityLabel->setBuddy(quality_);
    quality_->setAccessibleName(qualityLabel->text());
    qualityRow->addWidget(qualityLabel);
    quality_->setObjectName(controlName(ID_QUALITY_SCROLL));
    quality_->setRange(JPEG_MIN_QUALITY, JPEG_MAX_QUALITY);
    quality_->setSingleStep(1);
    quality_->setPageStep(QUALITY_PAGE_STEP);
    quality_->setMinimumWidth(160);
    qualityText_ = new QLineEdit(this);
    qualityText_->setObjectName(controlName(ID_QUALITY_EDIT));
    showReadOnly(*qualityText_, true); // shows the bar's value
    qualityText_->setMaximumWidth(48);
    qualityText_->setAccessibleName(QStringLiteral("JPEG quality"));
    qualityRow->addWidget(quality_);
    qualityRow->addWidget(qualityText_);
    top->addLayout(qualityRow);
    connect(quality_, &QScrollBar::valueChanged, this, [this](int value) {
        if (choices_.format != ImageFormat::Jpeg) {
            return;
        }
        choices_.jpegQuality = std::clamp(value, JPEG_MIN_QUALITY, JPEG_MAX_QUALITY);
        qualityText_->setText(QString::number(choices_.jpegQuality));
    });

    addOkCancelRow(*this, *top);
    showFormat(choices.format);
    presentTitle(*this);
    adjustSize();
    centreDialogOnScreen(*this, MOVED_UP);
}

void ImageDialog::showFormat(ImageFormat format) {
    const bool jpeg = format == ImageFormat::Jpeg;
    quality_->setEnabled(jpeg);
    if (jpeg) {
        choices_.jpegQuality = std::clamp(choices_.jpegQuality, JPEG_MIN_QUALITY, JPEG_MAX_QUALITY);
        quality_->setValue(choices_.jpegQuality);
        qualityText_->setText(QString::number(choices_.jpegQuality));
    } else {
        qualityText_->clear();
    }
}

bool runImageDialog(Prompts& prompts, ImageChoices& choices) {
    ImageDialog box(choices);
    return prompts.runDialog(box);
}

} // namespace korv
