#include "link/linux/discovery_linux.h"

#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QBluetoothLocalDevice>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

#include "link/address.h"
#include "link/linux/link_errors_linux.h"
#include "core/guard.h"

namespace tarvik::lnx {
namespace {

class QtDevice : public IDiscoveredDevice {
 public:
  explicit QtDevice(const QBluetoothDeviceInfo& info) : info_(info) {}
  std::string Address() const override {
    return "(" + FormatBluetoothAddress(info_.address().toUInt64()) + ")";
  }
  // The name the inquiry brought (BlueZ asks the device for it then).
  std::string ReadName(const Radio&, std::int32_t& result) const override {
    result = 0;
    return info_.name().toStdString();
  }

 private:
  QBluetoothDeviceInfo info_;
};

}  // namespace

QtDiscovery::QtDiscovery() = default;

QtDiscovery::~QtDiscovery() {
  if (agent_) QObject::disconnect(agent_.get(), nullptr, &context_, nullptr);
}

std::int32_t QtDiscovery::ListRadios(std::vector<Radio>& radios) {
  radios.clear();
  for (const QBluetoothHostInfo& host : QBluetoothLocalDevice::allDevices())
    radios.push_back(std::make_shared<QtRadio>(host.address()));
  return 0;
}

std::int32_t QtDiscovery::Discover(const Radio& radio, std::uint8_t timeout, std::uint32_t) {
  const auto* local = dynamic_cast<const QtRadio*>(radio.get());
  if (!local) return wcl::kNoRadio;
  if (agent_) return wcl::kBusy;
  const std::uint32_t generation = ++generation_;
  agent_ = std::make_unique<QBluetoothDeviceDiscoveryAgent>(local->address());
  QBluetoothDeviceDiscoveryAgent* agent = agent_.get();
  // Recorded where Qt emits it, acted on from the event loop.
  const auto post = [this, generation, radio](auto work) {
    QMetaObject::invokeMethod(
        &context_,
        [this, generation, radio, work] {
          if (generation == generation_) RunOrStop("A discovery event", [&] { work(radio); });
        },
        Qt::QueuedConnection);
  };
  const auto found = [agent] {
    DeviceList list;
    for (const QBluetoothDeviceInfo& info : agent->discoveredDevices())
      list.push_back(std::make_shared<QtDevice>(info));
    return list;
  };
  const auto direct = Qt::DirectConnection;
  QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::finished, &context_, [this, post, found] {
    post([this, devices = found()](const Radio& r) { Complete(r, devices); });
  }, direct);
  QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::canceled, &context_, [this, post, found] {
    post([this, devices = found()](const Radio& r) { Complete(r, devices); });
  }, direct);
  QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::errorOccurred, &context_, [this, post, agent] {
    qCWarning(linkLog, "Discovering devices failed: %s", qPrintable(agent->errorString()));
    post([this](const Radio& r) { Complete(r, std::nullopt); });
  }, direct);
  post([this](const Radio& r) {
    if (OnDiscoveryStarted) OnDiscoveryStarted(r);
  });
  // The inquiry runs for the length asked, then stops with what it found.
  const int units = std::clamp<int>(timeout, 1, kLongestInquiry);
  QTimer::singleShot(kInquiryUnit * units, agent, [agent] { agent->stop(); });
  agent->start(QBluetoothDeviceDiscoveryAgent::ClassicMethod);
  return 0;
}

void QtDiscovery::Complete(const Radio& radio, std::optional<DeviceList> devices) {
  ++generation_;  // one completion per discovery
  if (agent_) {
    QObject::disconnect(agent_.get(), nullptr, &context_, nullptr);
    agent_.reset();
  }
  if (OnDiscoveryComplete) OnDiscoveryComplete(radio, devices);
}

}  // namespace tarvik::lnx
