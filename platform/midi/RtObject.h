#pragma once

// RtMidi objects held so that nothing escapes them: RtMidi throws and prints, and this code
// neither lets it print nor lets an exception out of platform/.

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace movrin {

// Takes RtMidi's errors instead of letting it print or throw. The input thread may report too.
struct ErrorSink {
  std::atomic<int> errors{0};

  static void Record(RtMidiError::Type type, const std::string& /*text*/, void* self) {
    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING) {
      ++static_cast<ErrorSink*>(self)->errors;
    }
  }
};

// An RtMidi object with its sink, which must outlive it.
template <typename T>
struct RtObject {
  ErrorSink sink;
  std::unique_ptr<T> midi;

  RtObject() = default;
  RtObject(const RtObject&) = delete;
  RtObject& operator=(const RtObject&) = delete;
  ~RtObject() {
    try {
      midi.reset();
    } catch (...) {  // RtMidi reports through the sink; nothing may escape a destructor
    }
  }
};

// Null when RtMidi could not make a client.
template <typename T>
std::unique_ptr<RtObject<T>> MakeRt(RtMidi::Api api, const std::string& clientName) {
  try {
    auto object = std::make_unique<RtObject<T>>();
    object->midi = std::make_unique<T>(api, clientName);
    object->midi->setErrorCallback(&ErrorSink::Record, &object->sink);
    return object;
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Every port in RtMidi's order, which is the index it opens by; empty when listing failed.
template <typename T>
std::vector<std::string> RtPortNames(RtObject<T>& object) {
  std::vector<std::string> names;
  try {
    const unsigned count = object.midi->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      names.push_back(object.midi->getPortName(i));
    }
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

}  // namespace movrin
