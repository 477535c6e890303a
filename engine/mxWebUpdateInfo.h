// The update information dialog: the information page in a modal dialog with an accept and a
// decline button and a check box. The GUI toolkit stays inside the implementation file.
#pragma once

#include <memory>
#include <string>
#include <utility>

class Tfrm_ShowInfoUpdate {
 public:
  enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

  // Creates the dialog with no owner. Needs the host's GUI application object (see CanShow).
  Tfrm_ShowInfoUpdate();
  ~Tfrm_ShowInfoUpdate();
  Tfrm_ShowInfoUpdate(const Tfrm_ShowInfoUpdate&) = delete;
  Tfrm_ShowInfoUpdate& operator=(const Tfrm_ShowInfoUpdate&) = delete;

  // True when the process has a GUI application object, so that a dialog can be shown.
  static bool CanShow();

  // Left edges of the accept and decline buttons in a bottom panel of the given width: the pair
  // is centred as if 6 pixels apart but placed 3 apart; a too narrow panel gives a negative left.
  static std::pair<int, int> ButtonLefts(int panelWidth, int okWidth, int cancelWidth);

  void setFutureUpdateChecked(bool Checked);
  bool FutureUpdateChecked() const;
  void setCaptions(const std::u16string& OkButton, const std::u16string& CancelButton,
                   const std::u16string& CheckForUpdate);
  // Starts loading the page; it arrives while the dialog is up.
  void Navigate(const std::u16string& URL);
  // Shows the dialog modally and returns its modal result.
  int ShowModal();

  // The toolkit's dialog object (a QDialog*), for hosts and tests that need to reach it.
  void* Widget() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
