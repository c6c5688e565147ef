// Record reception wired to fakes as the main window wires it: minimized,
// with sound and reader feedback off unless a test turns them on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "bluetooth/reader_commands.h"
#include "fakes/fake_controls.h"
#include "fakes/fake_dialogs.h"
#include "fakes/fake_keys.h"
#include "fakes/fake_link.h"
#include "wedge/keystroke_output.h"
#include "wedge/record_reception.h"

namespace tarvik::testing {

struct FakeWedge : FilledWindow {
  explicit FakeWedge(std::size_t limit = kReceiveBufferLimit)
      : reception{{controls, pump, clock, timer3, sound, decoder, library, commands, output,
                   [] { return std::string("C:\\WINDOWS"); }, target, notice, limit}} {
    controls.SetCheckValue(kBeepBox, 0);
    controls.SetCheckValue(kFeedbackBox, 0);
  }

  FakeClient client{clock};
  FakeLibrary library;
  FakeTimer timer3;
  FakeSound sound{pump, clock};
  FakeDecoder decoder;
  RecordingKeys keys{clock};
  ReaderCommands commands{client, library, controls, pump, clock};
  KeystrokeOutput output{controls, pump, clock, keys};
  FakeTarget target;
  FakeNotice notice;
  RecordReception reception;
};

}  // namespace tarvik::testing
