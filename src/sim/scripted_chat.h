// A scripted conversation for protocol tests: the requests the library must
// send, in order, each with its canned answer (data, an error, a time-out
// or an unplug). Attached to a simulated scanner, it answers the vendor
// control transfers instead of the firmware model; enumeration, opening and
// the serial descriptor still come from the profile (and the scanner's
// test controls). Any transfer that differs from the next expected one is
// recorded as a mismatch (and refused with 31); Verify() then lists it,
// together with the steps never reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sys_error.h"
#include "platform/usb_backend.h"

namespace kovran::sim {

enum class ChatDirection : std::uint8_t { In, Out, NoData, Wire };

struct ChatRequest {
    std::uint8_t cls = 0;
    std::uint8_t sub = 0;
    ChatDirection direction = ChatDirection::In;
    std::uint16_t length = 0;         // In: bytes asked
    std::vector<std::uint8_t> bytes;  // Out: the data expected
    platform::UsbSetup setup;         // Wire: the setup packet expected

    static ChatRequest In(std::uint8_t cls, std::uint8_t sub, std::uint16_t length);
    static ChatRequest Out(std::uint8_t cls, std::uint8_t sub, std::vector<std::uint8_t> bytes);
    // A command without data: a read of 0 or 1 bytes or a write of none.
    static ChatRequest NoData(std::uint8_t cls, std::uint8_t sub);
    // Exactly this setup packet, whatever the firmware (tests of the wire
    // form itself); an OUT packet with `bytes` must carry them.
    static ChatRequest Wire(const platform::UsbSetup& setup, std::vector<std::uint8_t> bytes = {});
};

// What the scanner does after a chat answered.
enum class ChatAfter : std::uint8_t { Stay, Unplug };

struct ChatAnswer {
    int error = platform::kErrorSuccess;
    ChatAfter after = ChatAfter::Stay;
};

class ScriptedChat {
  public:
    class Step {
      public:
        // Answers with these bytes (In; cut to the length asked).
        ScriptedChat& Reply(std::vector<std::uint8_t> bytes);
        // Accepts the transfer (Out and NoData).
        ScriptedChat& Ok();
        // Refuses with a Windows error (21, 5, 31, 2 ...).
        ScriptedChat& Fail(int error);
        // Never answers: the transfer waits its whole time-out and gets 1460.
        ScriptedChat& TimeOut();
        // The device vanishes with this transfer, which fails with 2.
        ScriptedChat& Unplug();

        // Claims `delta` bytes more (or fewer) than the reply carries, as
        // a faulty driver might.
        Step& ClaimExtra(long delta);
        // Runs inside the transfer, before it is answered (for example to
        // let another thread or process act while the transfer is under way).
        Step& During(std::function<void()> action);

      private:
        friend class ScriptedChat;
        Step(ScriptedChat* chat, std::size_t index) : chat_(chat), index_(index) {}
        ScriptedChat* chat_;
        std::size_t index_;
    };

    // `firmware` decides how the expected requests look on the wire.
    explicit ScriptedChat(std::uint16_t firmware) : firmware_(firmware) {}

    Step Expect(ChatRequest request);

    // Called with every mismatch as it happens (for example to fail the
    // running test at once).
    void OnMismatch(std::function<void(const std::string&)> callback);

    // Answers one control transfer (the simulated scanner calls this).
    ChatAnswer Answer(const platform::UsbSetup& setup, std::uint8_t* data, std::size_t* transferred,
                      unsigned timeoutMs);

    // Forgets every step and mismatch (a forked test process hands the rest
    // of a conversation to its child).
    void Clear();

    // Every mismatch so far, then one line per step not reached. Empty when
    // the conversation went exactly as scripted.
    std::vector<std::string> Verify() const;
    std::size_t StepsDone() const;

  private:
    enum class AnswerKind : std::uint8_t { Reply, Error, TimeOut, Unplug };
    struct Entry {
        ChatRequest request;
        AnswerKind answer = AnswerKind::Reply;
        std::vector<std::uint8_t> reply;
        int error = platform::kErrorSuccess;
        long claimExtra = 0;
        std::function<void()> during;
    };
    bool Matches(const Entry& e, const platform::UsbSetup& setup, const std::uint8_t* data) const;
    std::string Describe(const Entry& e) const;

    std::uint16_t firmware_;
    mutable std::mutex mutex_;
    std::vector<Entry> steps_;
    std::size_t next_ = 0;
    std::vector<std::string> mismatches_;
    std::function<void(const std::string&)> onMismatch_;
};

// "C0 04 0003 0000 8" for messages.
std::string DescribeSetup(const platform::UsbSetup& setup);

}  // namespace kovran::sim
