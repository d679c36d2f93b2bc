#pragma once
// "Point Log - Click Point on Korvanthile" (dialog 166, modeless): the values of the point
// last clicked while a point log is written. Object names are the control ids.

#include <QDialog>

class QLineEdit;

namespace korv {

inline constexpr int POINT_LOG_DIALOG_ID = 166;
inline constexpr int ID_POINT_TIME_EDIT = 1169;
inline constexpr int ID_POINT_FREQUENCY_EDIT = 1171;
inline constexpr int ID_POINT_LEVEL_EDIT = 1172;

class PointLogDialog : public QDialog {
  public:
    explicit PointLogDialog(QWidget* parent = nullptr);
    void showPoint(long timeMsec, long frequencyHz, long levelDb);

  private:
    QLineEdit* time_ = nullptr;
    QLineEdit* frequency_ = nullptr;
    QLineEdit* level_ = nullptr;
};

} // namespace korv
