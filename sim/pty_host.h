// Runs a peer (the simulated reader) on a pseudo-terminal in real time, on a
// thread of its own, so that the library, the CLI or any serial program can
// open the terminal's device path as if a reader were plugged in.
//
// When the peer hangs up, the host closes the terminal, which the other side
// sees as POLLHUP and failing reads. It first lets the other side read the
// bytes sent before the hang-up (for at most two seconds), since closing the
// terminal throws away whatever is still unread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <queue>
#include <string>
#include <string_view>
#include <thread>

#include "peer.h"

namespace markwire::sim {

class PtyHost final : private PeerOutput {
 public:
  // At most this much of what the library wrote is kept for WaitForReceived;
  // older bytes are dropped first.
  static constexpr std::size_t kReceivedKept = 1 << 20;

  // The peer must outlive the host. It is called on the host's thread only.
  explicit PtyHost(Peer& peer);
  ~PtyHost() override;  // stops and joins
  PtyHost(const PtyHost&) = delete;
  PtyHost& operator=(const PtyHost&) = delete;

  // Creates a new terminal and starts serving it. False, with LastError(),
  // when the terminal cannot be made or the host is already running. A host
  // that was stopped or hung up may be started again; it gets a new path.
  bool Start();
  // Stops the thread, closes the terminal and removes the link. Prompt: the
  // thread is woken, not polled. Safe to call more than once.
  void Stop();

  // The terminal's device path, such as "/dev/pts/3"; empty before Start.
  const std::string& DevicePath() const { return devicePath_; }
  // Makes `path` a symbolic link to the device, for programs that want a
  // fixed name; a symbolic link already there is replaced. Removed by Stop.
  bool Link(const std::string& path);

  // True from Start until Stop or a hang-up of the peer.
  bool Running() const { return running_.load(); }
  // True when the peer hung up: the terminal is gone and the host stopped.
  bool HungUp() const { return hungUp_.load(); }

  // What the library wrote since Start (at most the last kReceivedKept bytes).
  std::string Received() const;
  void ClearReceived();
  // Waits until what was received holds `text`; false on time-out or when the
  // host stops first.
  bool WaitForReceived(std::string_view text, std::chrono::milliseconds timeout) const;

  std::string LastError() const;

 private:
  struct Outgoing {
    std::int64_t atUs;
    std::uint8_t byte;
  };

  // PeerOutput, called from the peer on the host's thread.
  void Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
            std::int64_t byteTimeUs) override;
  void HangUp(std::int64_t atUs) override;
  std::int64_t LineFreeAt() const override;
  void WakeAt(std::int64_t atUs) override { wakes_.push(atUs); }

  void Loop();
  // Writes what is due; false when the terminal failed.
  bool WriteDue(std::int64_t nowUs, bool& blocked);
  bool ReadAvailable();
  bool ReadyToHangUp(std::int64_t nowUs) const;
  void Fail(const std::string& what, int error);
  void CloseTerminal();
  static std::int64_t NowUs();

  Peer& peer_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> hungUp_{false};
  int master_ = -1;
  int slave_ = -1;  // held open so the line stays raw and up while nobody uses it
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string devicePath_;
  std::string linkPath_;

  // Owned by the host's thread while it runs.
  std::deque<Outgoing> outgoing_;
  std::priority_queue<std::int64_t, std::vector<std::int64_t>, std::greater<>> wakes_;
  std::int64_t lineFreeAtUs_ = 0;
  std::int64_t hangUpAtUs_ = -1;
  std::int64_t lastProgressUs_ = 0;
  std::int64_t lastWriteUs_ = 0;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string received_;
  std::string lastError_;
};

}  // namespace markwire::sim
