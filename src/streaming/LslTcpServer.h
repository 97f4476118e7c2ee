// The outlet's TCP side: info requests and sample feeds to any number of receivers, from one poll
// loop.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "streaming/LslInfoXml.h"
#include "streaming/LslNetwork.h"
#include "streaming/LslSampleRing.h"
#include "streaming/LslSockets.h"

namespace tamix {

// How the ring's samples are laid out: word 0 the stamp's bits, word 1 the
// flags (bit 0: deducible from the previous sample) and for a string the
// text's length in the upper half, then the values (two float32 a word, or
// the text's bytes).
inline constexpr uint64_t kLslRingDeduced = 1;

struct LslServerCounters {
    std::atomic<uint64_t> served{0};   // feeds begun
    std::atomic<int> now{0};           // feeds open
    std::atomic<uint64_t> dropped{0};  // samples a feed skipped because its receiver fell behind
};

// One thread serves every connection with non-blocking sockets, so a
// receiver that stops reading only lets its own feed fall behind: each feed
// has a cursor into the shared ring and at most `maxBuffered` samples (or
// fewer if its receiver asked so); older ones are skipped and counted.
class LslTcpServer {
  public:
    LslTcpServer();
    LslTcpServer(const LslTcpServer&) = delete;
    LslTcpServer& operator=(const LslTcpServer&) = delete;
    ~LslTcpServer();

    bool Bind(LslNetwork network, std::string& error);
    uint16_t dataPort() const { return dataPort_; }

    struct Stream {
        LslStreamDescription description;
        std::map<std::string, std::string> fields;
        std::string uid;
        std::string shortInfo;
        std::string fullInfo;
        std::size_t maxBuffered = 0;
    };
    bool Start(Stream stream, const LslSampleRing* ring, LslServerCounters* counters,
               std::string& error);
    void Stop();

  private:
    struct Connection;
    void Serve();
    void Accept();
    void ReadRequest(Connection& c);
    void HandleRequest(Connection& c);
    void BeginFeed(Connection& c, std::string_view request);
    void Fill(Connection& c);
    void Flush(Connection& c);
    void CloseConnection(Connection& c);

    LslFd listen_;
    uint16_t dataPort_ = 0;
    Stream stream_;
    const LslSampleRing* ring_ = nullptr;
    LslServerCounters* counters_ = nullptr;
    LslWakeup wakeup_;
    std::thread thread_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<pollfd> fds_;  // reserved before the thread starts, for all connections
};

}  // namespace tamix
