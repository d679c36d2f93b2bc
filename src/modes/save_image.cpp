#include "modes/save_image.h"

#include "app/app_state.h"
#include "app/command_ids.h"
#include "app/current_view.h"
#include "app/main_window.h"
#include "base/user_message.h"
#include "dialogs/image_dialog.h"
#include "display/view_draw.h"
#include "modes/batch_steps.h"
#include "modes/image_writing.h"
#include "modes/plot_display.h"
#include "output/atomic_file.h"
#include "output/export_picture.h"
#include "output/image_encoding.h"
#include "platform/palette_display.h"
#include "platform/prompts.h"
#include "settings/settings_inputs.h"

namespace korv {

namespace {

ViewBand entireBand(const AppSettings& st) {
    return entireImageBand(viewBandOf(st));
}

// The first `width` columns of the chosen channel's band, with the axes, the legend beside
// them, and the grid's crosses when GRID is on.
std::optional<IndexedSurface> entirePicture(MainWindow& window, int width) {
    const AppState& s = window.state();
    auto picture = composeEntirePicture(*s.held.spectralImage, entireBand(s.settings), width);
    if (picture) {
        drawScalesBeside(*picture, currentViewGeometry(s), window.controlFont(),
                         currentPictureScales(s));
    }
    return picture;
}

// The file name the user picks for the chosen format; nothing on Cancel.
std::optional<std::string> askForImageFile(const ImageChoices& choices,
                                           const std::string& lastFolder) {
    const ImageFormatInfo& format = imageFormatInfo(choices.format);
    const auto text = [](std::string_view s) {
        return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
    };
    FileRequest request;
    request.title = text(format.saveTitle);
    request.filter = text(format.saveFilter);
    request.folder = displayFileName(lastFolder);
    request.defaultSuffix = text(format.extension.substr(1));
    const auto chosen = prompts().saveFile(request);
    if (!chosen) {
        return std::nullopt;
    }
    return fileNameBytes(*chosen);
}

} // namespace

std::optional<IndexedSurface> windowPicture(MainWindow& window) {
    const AppState& s = window.state();
    const AppSettings& st = s.settings;
    const PlotLayout& l = s.view.layout;
    const bool spectral = st.displayType == DisplayType::Scroll;
    const ViewGeometry g = currentViewGeometry(window.state());
    // An analysis, or the last picture a scan without the scroll memory left in the window.
    const SpectralImage* shown = s.held.spectralImage        ? &*s.held.spectralImage
                                 : s.view.runningScrollImage ? &*s.view.runningScrollImage
                                                             : nullptr;
    if (spectral && shown != nullptr) {
        // The panes as the window shows them (see MainWindow::blitView).
        const bool scrollMem = st.stereo && (s.view.scrollMemoryShown || !s.held.spectralImage);
        const long pos = s.view.scroll.h.pos;
        auto picture = composeViewPicture(*shown, viewBandOf(st), scrollMem ? 0 : pos,
                                          scrollMem ? dualRightPaneX(l.plotWidth) : pos,
                                          l.plotWidth, l.plotHeight);
        if (!picture) {
            return std::nullopt;
        }
        drawStripLines(*picture, g.stripHeight);
        // The axes and the legend as the window shows them, whatever GRID says.
        drawPictureScales(*picture, g, window.controlFont(), GridTarget::Window,
                          currentPictureScales(s));
        return picture;
    }
    const IndexedSurface* source = nullptr;
    if (!spectral && s.view.plotImage) {
        source = &*s.view.plotImage;
    } else if (s.held.spectralImage) {
        source = &s.held.spectralImage->surface();
    } else if (s.view.plotImage) {
        source = &*s.view.plotImage;
    }
    if (source == nullptr) {
        return std::nullopt;
    }
    auto picture = IndexedSurface::create(exportWidth(l.plotWidth), l.plotHeight, kBackgroundIndex);
    if (picture) {
        picture->copyFrom(*source, {0, 0, l.plotWidth, l.plotHeight}, {0, 0});
        // With a plot, the grid the window draws over its copy of it.
        paintViewDrawing(*picture, scanPlotOverlay(window), window.controlFont());
    }
    return picture;
}

namespace {

// Where the picture goes: the batch's name beside its file, else the image dialog's and the
// save prompt's choice; nothing when either was cancelled.
std::optional<std::string> imagePath(MainWindow& window, bool batch) {
    AppState& s = window.state();
    if (batch) {
        return batchImagePath(s.analysis.run.file, batchChoices(window).format);
    }
    if (!runImageDialog(prompts(), s.imageChoices)) {
        return std::nullopt;
    }
    const auto chosen = askForImageFile(s.imageChoices, s.settings.lastFolder);
    if (!chosen) {
        window.surface().invalidate();
        return std::nullopt;
    }
    return std::string(*chosen);
}

} // namespace

void saveImage(MainWindow& window, bool wholeImage) {
    AppState& s = window.state();
    const bool batch = window.state().control.batchRunning;
    if (wholeImage ? !s.held.spectralImage
                   : !(s.held.spectralImage || s.view.plotImage || s.view.runningScrollImage)) {
        return; // nothing to save (a batch step then counts as failed)
    }
    // A batch saves the whole analysis when it does not fit the view.
    const bool whole = wholeImage || (batch && s.held.spectralImage &&
                                      analysedColumns(s) > s.view.layout.plotWidth);
    if (batch && s.analysis.run.cutShort) {
        batchImageStopped(window);
        window.surface().invalidate();
        return;
    }
    const std::optional<std::string> chosenPath = imagePath(window, batch);
    if (!chosenPath) {
        return;
    }
    const std::string& path = *chosenPath;
    const ImageChoices& choices = batch ? batchChoices(window) : s.imageChoices;
    // Entire Image saves the whole picture; a batch the analysed columns, without the
    // background a short analysis leaves to the picture's screen-wide minimum.
    const int wholeWidth =
        whole ? exportWidth(batch ? analysedColumns(s) : s.held.spectralImage->width()) : 0;
    std::optional<UserMessage> failure;
    // JPEG's size limit is known before anything is composed or written.
    const ExportSize size =
        scaledExportSize(whole ? wholeWidth : exportWidth(s.view.layout.plotWidth),
                         whole ? s.held.spectralImage->plotHeight() : s.view.layout.plotHeight,
                         s.settings.imageScalePercent);
    if (choices.format == ImageFormat::Jpeg &&
        (size.width > JPEG_MAX_SIDE || size.height > JPEG_MAX_SIDE)) {
        failure = kImageTooLargeForJpeg;
    }
    // A batch hands the picture over and analyses the next file while it is written.
    const auto write = [&](const PictureArea& picture) {
        return batch ? writeBatchImage(window, path, picture)
                     : writeImageFile(path, picture, choices, displayColours(s.view.display));
    };
    if (!failure) {
        auto picture = whole ? entirePicture(window, wholeWidth) : windowPicture(window);
        if (picture) {
            picture = scaleForExport(std::move(*picture), s.settings.imageScalePercent);
        }
        failure = picture ? write(*picture) : std::optional<UserMessage>(kNotEnoughMemoryForBitmap);
    }
    if (batch) {
        batchImageDone(window, failure);
    } else if (failure) {
        prompts().show(*failure);
    }
    window.surface().invalidate();
}

void installSaveImage(MainWindow& window) {
    MainWindow* w = &window;
    window.registerCommand(cmd::kSaveWindowImage, [w](int) { saveImage(*w, false); });
    window.registerCommand(cmd::kSaveEntireImage, [w](int) { saveImage(*w, true); });
}

} // namespace korv
