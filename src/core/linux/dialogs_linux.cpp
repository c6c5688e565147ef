#include "core/linux/dialogs_linux.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/linux/services_linux.h"

namespace tarvik::lnx {

QWidget* QtDialogs::Parent() const {
  // A box over a window in the tray or iconified would be hidden, or
  // iconified, with it: there it stands on its own.
  return owner_ && owner_->isVisible() && !owner_->isMinimized() ? owner_ : nullptr;
}

void QtDialogs::Inform(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kProgramTitle), QString::fromStdString(text),
                  QMessageBox::Ok, Parent());
  box.exec();
}

bool QtDialogs::AskYesNo(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, Parent());
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void QtDialogs::Beep() { DesktopBeep(); }

}  // namespace tarvik::lnx

namespace tarvik {

// Also to standard error: the box may never show (no display, a second failure).
void FatalError(std::string_view what) {
  static bool failing = false;  // a second failure while the box is up ends at once
  std::fprintf(stderr, "tarvik: %.*s\n", static_cast<int>(what.size()), what.data());
  std::fflush(stderr);
  if (!failing && qobject_cast<QApplication*>(QCoreApplication::instance())) {
    failing = true;
    QMessageBox::critical(nullptr, QString::fromLatin1(lnx::kProgramTitle),
                          QString::fromUtf8(what.data(), static_cast<int>(what.size())));
  }
  std::_Exit(1);
}

}  // namespace tarvik
