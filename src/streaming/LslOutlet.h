// One stream offered to LSL receivers (LabRecorder and the like) on this host or the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "streaming/LslInfoXml.h"
#include "streaming/LslNetwork.h"

namespace tamix {

struct LslOutletOptions {
    // The network has no default: the code that opens an outlet says which
    // (every test: LoopbackOnly). kLslLoopbackVariable can narrow Full.
    explicit LslOutletOptions(LslNetwork chosen) : network(chosen) {}
    LslNetwork network;
    // How far a receiver may fall behind before its oldest samples are
    // dropped (a receiver may ask for less): seconds at the nominal rate, or
    // samples for an irregular stream.
    double bufferSeconds = 30;
    std::size_t irregularBufferSamples = 1024;
    // The longest marker text kept; longer ones are cut at a character boundary.
    std::size_t maxMarkerBytes = 512;  // more than a marker comment takes (kCommentBytes)
    std::string sessionId = "default";
};

struct LslReceivers {
    uint64_t served = 0;  // feeds begun since Open
    int now = 0;          // feeds open now
};

// Opened once, then pushed to from one thread (the acquisition worker):
// Push and PushMarker take no lock, make no system call and allocate
// nothing; they never wait for a receiver. The outlet's own two threads
// (UDP answers, TCP feeds) do the network work. Open and Close run while no
// push does (on the pushing thread, or before it starts and after it ends);
// Receivers, Dropped and the other readers may be called from any thread
// between them.
class LslOutlet {
  public:
    LslOutlet();
    LslOutlet(const LslOutlet&) = delete;
    LslOutlet& operator=(const LslOutlet&) = delete;
    ~LslOutlet();

    // Binds the sockets, preallocates the buffer and starts serving. False
    // with `error` (naming the stream and the system's reason) otherwise.
    bool Open(const LslStreamDescription& description, const LslOutletOptions& options,
              std::string& error);
    // Stops serving and closes every connection; Open may follow again.
    void Close();
    bool isOpen() const;

    // `scans` scans of channelCount values each, interleaved, the last of
    // them taken at `lastStamp` (LslClock() seconds). With `deduce`, the
    // scans after the first are sent without stamps and receivers fill them
    // in at the nominal rate (what LabRecorder expects of a regular stream);
    // otherwise each carries its own (lastStamp less whole sample periods).
    // False (and nothing sent) when the outlet is not open, is a marker
    // stream, or `values` has another size.
    bool Push(const float* values, std::size_t valueCount, std::size_t scans, double lastStamp,
              bool deduce);
    // A marker of a String stream, stamped `stamp`.
    bool PushMarker(std::string_view text, double stamp);

    LslReceivers Receivers() const;
    // Samples that receivers missed because they fell behind, over all of them.
    uint64_t Dropped() const;
    // What receivers find: the network in use (after the environment's say),
    // the ports, the uid.
    LslNetwork network() const;
    uint16_t dataPort() const;
    uint16_t servicePort() const;
    std::string uid() const;
    std::string fullInfo() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tamix
