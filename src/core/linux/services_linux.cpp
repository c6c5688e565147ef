#include "core/linux/services_linux.h"

#include <QApplication>
#include <QFileInfo>
#include <canberra.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>

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

namespace {

constexpr std::uint32_t kBellSound = 1;

ca_context* NewContext() {
  ca_context* c = nullptr;
  if (ca_context_create(&c) != CA_SUCCESS) return nullptr;
  ca_context_change_props(c, CA_PROP_APPLICATION_NAME, "Tarvik", CA_PROP_APPLICATION_ID,
                          "tarvik", CA_PROP_APPLICATION_ICON_NAME, "tarvik", nullptr);
  // Connected at the first sound, and again at the next one after a failure:
  // a sound server that starts after the program is found then.
  return c;
}

}  // namespace

// The ends of our sounds, told from libcanberra's own threads. ALSA's side
// may tell one end twice (when it ends, and again when the context goes),
// so an end only notes the sound's id, and the wait for it takes it away.
struct DesktopSound::Ends {
  std::mutex m;
  std::condition_variable told;
  std::set<std::uint32_t> ended;

  static void Told(ca_context*, std::uint32_t id, int, void* data) {
    auto* ends = static_cast<Ends*>(data);
    {
      std::lock_guard lock(ends->m);
      ends->ended.insert(id);
    }
    ends->told.notify_all();
  }
};

DesktopSound::DesktopSound() : ends_(std::make_unique<Ends>()), context_(NewContext()) {}

DesktopSound::~DesktopSound() {
  if (context_) ca_context_destroy(context_);  // tells the ends of sounds still playing
}

bool DesktopSound::Play(const std::string& path) {
  ca_proplist* props = nullptr;
  if (!context_ || !QFileInfo(QString::fromStdString(path)).isFile() ||
      ca_proplist_create(&props) != CA_SUCCESS) {
    DesktopBeep();
    return false;
  }
  ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, path.c_str());
  ca_proplist_sets(props, CA_PROP_MEDIA_ROLE, "event");
  // The user may put another sound in the file's place at any time.
  ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
  const std::uint32_t id = ++lastId_;
  const int result = ca_context_play_full(context_, id, props, &Ends::Told, ends_.get());
  ca_proplist_destroy(props);
  if (result != CA_SUCCESS) {
    DesktopBeep();
    return false;
  }
  // Blocks without running events, as a synchronous sound does on Windows.
  std::unique_lock lock(ends_->m);
  const bool ended =
      ends_->told.wait_for(lock, kLongestSound, [&] { return ends_->ended.erase(id) == 1; });
  lock.unlock();
  if (!ended) ca_context_cancel(context_, id);
  return true;
}

void DesktopBeep() {
  static ca_context* const bell = NewContext();
  const bool rang = bell && ca_context_play(bell, kBellSound, CA_PROP_EVENT_ID, "bell",
                                            CA_PROP_EVENT_DESCRIPTION, "Tarvik",
                                            nullptr) == CA_SUCCESS;
  if (!rang && qobject_cast<QApplication*>(QCoreApplication::instance()))  // a display to ring
    QApplication::beep();
}

std::string Cp1252CodePage::Decode(std::span<const std::uint8_t> bytes) const {
  return DecodeCp1252(bytes);
}

std::string Cp1252CodePage::Encode(std::string_view utf8) const { return EncodeCp1252(utf8); }

}  // namespace tarvik::lnx
