#include "core/linux/services_linux.h"

#include <QApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "core/cp1252.h"
#include "core/linux/dialogs_linux.h"

namespace tarvik::lnx {

QtTimer::QtTimer(std::chrono::milliseconds interval, std::function<void()> onTick)
    : onTick_(std::move(onTick)) {
  timer_.setInterval(static_cast<int>(interval.count()));
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    RunOrStop("A timer's tick", [this] {
      if (onTick_) onTick_();
    });
  });
}

void QtTimer::SetEnabled(bool enabled) {
  if (enabled)
    timer_.start();  // restarts the interval when running
  else
    timer_.stop();
}

PlayerSound::PlayerSound() {
  for (const char* name : {"paplay", "pw-play", "aplay"}) {
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (found.isEmpty()) continue;
    player_ = found.toStdString();
    quietFlag_ = std::string_view(name) == "aplay";
    return;
  }
}

std::string LocalPath(const std::string& path) {
  std::string local = path;
  const auto cut = local.rfind('\\');
  if (cut != std::string::npos && !QFileInfo::exists(QString::fromStdString(local))) local[cut] = '/';
  return local;
}

void PlayerSound::PlayFile(const std::string& path) {
  const QString file = QString::fromStdString(LocalPath(path));
  if (player_.empty() || !QFileInfo(file).isFile()) {
    QApplication::beep();
    return;
  }
  QProcess player;
  QStringList args;
  if (quietFlag_) args << QStringLiteral("-q");
  args << file;
  player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  player.start(QString::fromStdString(player_), args);
  if (!player.waitForStarted()) {
    QApplication::beep();
    return;
  }
  // Blocks without running events, as a synchronous sound does on Windows.
  if (!player.waitForFinished(static_cast<int>(kLongestSound.count()))) {
    player.kill();
    player.waitForFinished();
  }
}

std::string Cp1252CodePage::Decode(std::span<const std::uint8_t> bytes) const {
  return DecodeCp1252(bytes);
}

std::string Cp1252CodePage::Encode(std::string_view utf8) const { return EncodeCp1252(utf8); }

}  // namespace tarvik::lnx
