#include "sim/scripted_chat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/command_table.h"

namespace kovran::sim {

namespace {

bool SameSetup(const platform::UsbSetup& a, const platform::UsbSetup& b) {
    return a.requestType == b.requestType && a.request == b.request && a.value == b.value &&
           a.index == b.index && a.length == b.length;
}

}  // namespace

std::string DescribeSetup(const platform::UsbSetup& s) {
    char text[48];
    std::snprintf(text, sizeof text, "%02X %02X %04X %04X %u", s.requestType, s.request, s.value,
                  s.index, s.length);
    return text;
}

ChatRequest ChatRequest::In(std::uint8_t cls, std::uint8_t sub, std::uint16_t length) {
    return ChatRequest{cls, sub, ChatDirection::In, length, {}};
}

ChatRequest ChatRequest::Out(std::uint8_t cls, std::uint8_t sub, std::vector<std::uint8_t> bytes) {
    auto length = static_cast<std::uint16_t>(std::min<std::size_t>(bytes.size(), 0xFFFF));
    return ChatRequest{cls, sub, ChatDirection::Out, length, std::move(bytes)};
}

ChatRequest ChatRequest::NoData(std::uint8_t cls, std::uint8_t sub) {
    return ChatRequest{cls, sub, ChatDirection::NoData, 0, {}};
}

ScriptedChat& ScriptedChat::Step::Reply(std::vector<std::uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    Entry& e = chat_->steps_[index_];
    e.answer = Answer_::Reply;
    e.reply = std::move(bytes);
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::Ok() {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    Entry& e = chat_->steps_[index_];
    e.answer = Answer_::Reply;
    e.reply.clear();
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::Fail(int error) {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    Entry& e = chat_->steps_[index_];
    e.answer = Answer_::Error;
    e.error = error;
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::TimeOut() {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    chat_->steps_[index_].answer = Answer_::TimeOut;
    return *chat_;
}

ScriptedChat::Step ScriptedChat::Expect(ChatRequest request) {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(Entry{std::move(request), Answer_::Reply, {}, 0});
    return Step(this, steps_.size() - 1);
}

void ScriptedChat::OnMismatch(std::function<void(const std::string&)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    onMismatch_ = std::move(callback);
}

bool ScriptedChat::Matches(const Entry& e, const platform::UsbSetup& setup,
                           const std::uint8_t* data) const {
    const ChatRequest& r = e.request;
    switch (r.direction) {
        case ChatDirection::In:
            return SameSetup(setup, EncodeCommand(firmware_, r.cls, r.sub, true, r.length));
        case ChatDirection::Out:
            if (!SameSetup(setup, EncodeCommand(firmware_, r.cls, r.sub, false, r.length))) {
                return false;
            }
            // The old request form carries a write as a read: no data travels.
            if (FirmwareVersion(firmware_) < kRegisterFormFirmware) return true;
            return r.bytes.empty() ||
                   (data != nullptr && std::memcmp(data, r.bytes.data(), r.bytes.size()) == 0);
        case ChatDirection::NoData:
            return SameSetup(setup, EncodeCommand(firmware_, r.cls, r.sub, true, 0)) ||
                   SameSetup(setup, EncodeCommand(firmware_, r.cls, r.sub, true, 1)) ||
                   SameSetup(setup, EncodeCommand(firmware_, r.cls, r.sub, false, 0));
    }
    return false;
}

std::string ScriptedChat::Describe(const Entry& e) const {
    const ChatRequest& r = e.request;
    std::string text = CommandName(r.cls, r.sub);
    switch (r.direction) {
        case ChatDirection::In:
            text += " IN " + std::to_string(r.length) + " bytes (" +
                    DescribeSetup(EncodeCommand(firmware_, r.cls, r.sub, true, r.length)) + ")";
            break;
        case ChatDirection::Out:
            text += " OUT " + std::to_string(r.length) + " bytes (" +
                    DescribeSetup(EncodeCommand(firmware_, r.cls, r.sub, false, r.length)) + ")";
            break;
        case ChatDirection::NoData:
            text += " without data (" +
                    DescribeSetup(EncodeCommand(firmware_, r.cls, r.sub, true, 0)) + ")";
            break;
    }
    return text;
}

int ScriptedChat::Answer(const platform::UsbSetup& setup, std::uint8_t* data,
                         std::size_t* transferred, unsigned timeoutMs, SimClock& clock) {
    *transferred = 0;
    std::string mismatch;
    std::function<void(const std::string&)> callback;
    Entry step;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ == steps_.size()) {
            mismatch = "unexpected transfer " + DescribeSetup(setup) + " after the last step";
        } else if (!Matches(steps_[next_], setup, setup.in() ? nullptr : data)) {
            mismatch = "step " + std::to_string(next_ + 1) + ": expected " +
                       Describe(steps_[next_]) + ", got " + DescribeSetup(setup);
        } else {
            step = steps_[next_++];
        }
        if (!mismatch.empty()) {
            mismatches_.push_back(mismatch);
            callback = onMismatch_;
        }
    }
    if (!mismatch.empty()) {
        if (callback) callback(mismatch);
        return 31;
    }
    switch (step.answer) {
        case Answer_::Error:
            return step.error;
        case Answer_::TimeOut:
            clock.SleepMs(timeoutMs);
            return 1460;
        case Answer_::Reply:
            break;
    }
    if (setup.in()) {
        std::size_t n = std::min<std::size_t>(step.reply.size(), setup.length);
        if (n > 0 && data != nullptr) std::memcpy(data, step.reply.data(), n);
        *transferred = data != nullptr ? n : 0;
    } else {
        *transferred = setup.length;
    }
    return 0;
}

std::vector<std::string> ScriptedChat::Verify() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out = mismatches_;
    for (std::size_t i = next_; i < steps_.size(); ++i) {
        out.push_back("step " + std::to_string(i + 1) + " not reached: " + Describe(steps_[i]));
    }
    return out;
}

std::size_t ScriptedChat::StepsDone() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_;
}

}  // namespace kovran::sim
