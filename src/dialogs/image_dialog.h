#pragma once
// "Image Characteristics" (dialog 151): the format of a saved image and the JPEG quality.
// Both choices take effect as the user makes them, also when the dialog is then cancelled.

#include "output/image_files.h"

#include <QDialog>

class QScrollBar;
class QLineEdit;

namespace korv {

class Prompts;

inline constexpr int IMAGE_DIALOG_ID = 151;
inline constexpr int ID_QUALITY_SCROLL = 1160;
inline constexpr int ID_QUALITY_EDIT = 1161;
inline constexpr int QUALITY_PAGE_STEP = 10;

class ImageDialog : public QDialog {
  public:
    explicit ImageDialog(ImageChoices& choices, QWidget* parent = nullptr);

  private:
    void showFormat(ImageFormat format);

    ImageChoices& choices_;
    QScrollBar* quality_ = nullptr;
    QLineEdit* qualityText_ = nullptr;
};

// True on OK.
[[nodiscard]] bool runImageDialog(Prompts& prompts, ImageChoices& choices);

} // namespace korv
