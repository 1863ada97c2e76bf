// A PortLink that reports every transfer to the notifier's wire trace while
// someone listens, and passes everything through to the real link.
#pragma once

#include <memory>

#include "platform/clock.h"
#include "platform/notifier.h"
#include "transport/port_link.h"

namespace markwire {

class TracingLink final : public PortLink {
 public:
  TracingLink(std::unique_ptr<PortLink> inner, Notifier& notifier, Clock& clock)
      : inner_(std::move(inner)), notifier_(notifier), clock_(clock) {}

  bool Open(const std::string& device, const LineSettings& settings) override;
  bool IsValid() const override { return inner_->IsValid(); }
  unsigned Write(std::span<const std::uint8_t> data) override;
  unsigned Read(std::span<std::uint8_t> data, unsigned timeoutMs) override;
  std::size_t Purge() override;
  void Close() override;
  std::string LastError() const override { return inner_->LastError(); }
  bool LineThreadFailed() const override { return inner_->LineThreadFailed(); }

  PortLink& Inner() { return *inner_; }

 private:
  void Line(std::string_view what, std::span<const std::uint8_t> bytes, std::string_view extra);

  std::unique_ptr<PortLink> inner_;
  Notifier& notifier_;
  Clock& clock_;
  std::int64_t originUs_ = 0;
};

// "ONLINE/" as text with non-printing bytes escaped, then as hex.
std::string DescribeBytes(std::span<const std::uint8_t> bytes);

}  // namespace markwire
