#include "sim/scripted_chat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/sys_error.h"
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
    return ChatRequest{cls, sub, ChatDirection::In, length, {}, {}};
}

ChatRequest ChatRequest::Out(std::uint8_t cls, std::uint8_t sub, std::vector<std::uint8_t> bytes) {
    auto length = static_cast<std::uint16_t>(std::min<std::size_t>(bytes.size(), 0xFFFF));
    return ChatRequest{cls, sub, ChatDirection::Out, length, std::move(bytes), {}};
}

ChatRequest ChatRequest::NoData(std::uint8_t cls, std::uint8_t sub) {
    return ChatRequest{cls, sub, ChatDirection::NoData, 0, {}, {}};
}

ChatRequest ChatRequest::Wire(const platform::UsbSetup& setup, std::vector<std::uint8_t> bytes) {
    ChatRequest r;
    r.direction = ChatDirection::Wire;
    r.length = setup.length;
    r.bytes = std::move(bytes);
    r.setup = setup;
    return r;
}

ScriptedChat& ScriptedChat::Step::Reply(std::vector<std::uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    Entry& e = chat_->steps_[index_];
    e.answer = AnswerKind::Reply;
    e.reply = std::move(bytes);
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::Ok() {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    Entry& e = chat_->steps_[index_];
    e.answer = AnswerKind::Reply;
    e.reply.clear();
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::Fail(int error) {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    Entry& e = chat_->steps_[index_];
    e.answer = AnswerKind::Error;
    e.error = error;
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::TimeOut() {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    chat_->steps_[index_].answer = AnswerKind::TimeOut;
    return *chat_;
}

ScriptedChat& ScriptedChat::Step::Unplug() {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    chat_->steps_[index_].answer = AnswerKind::Unplug;
    return *chat_;
}

ScriptedChat::Step& ScriptedChat::Step::ClaimExtra(long delta) {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    chat_->steps_[index_].claimExtra = delta;
    return *this;
}

ScriptedChat::Step& ScriptedChat::Step::During(std::function<void()> action) {
    std::lock_guard<std::mutex> lock(chat_->mutex_);
    chat_->steps_[index_].during = std::move(action);
    return *this;
}

ScriptedChat::Step ScriptedChat::Expect(ChatRequest request) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry e;
    e.request = std::move(request);
    steps_.push_back(std::move(e));
    return Step(this, steps_.size() - 1);
}

void ScriptedChat::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.clear();
    mismatches_.clear();
    next_ = 0;
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
            return SameSetup(
                setup, EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::In, r.length));
        case ChatDirection::Out:
            if (!SameSetup(setup, EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::Out,
                                                r.length))) {
                return false;
            }
            // The old request form carries a write as a read: no data travels.
            if (FirmwareVersion(firmware_) < kRegisterFormFirmware) return true;
            return r.bytes.empty() ||
                   (data != nullptr && std::memcmp(data, r.bytes.data(), r.bytes.size()) == 0);
        case ChatDirection::NoData:
            return SameSetup(setup,
                             EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::In, 0)) ||
                   SameSetup(setup,
                             EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::In, 1)) ||
                   SameSetup(setup,
                             EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::Out, 0));
        case ChatDirection::Wire:
            if (!SameSetup(setup, r.setup)) return false;
            return setup.IsIn() || r.bytes.empty() ||
                   (data != nullptr && std::memcmp(data, r.bytes.data(), r.bytes.size()) == 0);
    }
    return false;
}

std::string ScriptedChat::Describe(const Entry& e) const {
    const ChatRequest& r = e.request;
    std::string text = CommandName(r.cls, r.sub);
    switch (r.direction) {
        case ChatDirection::In:
            text += " IN " + std::to_string(r.length) + " bytes (" +
                    DescribeSetup(
                        EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::In, r.length)) +
                    ")";
            break;
        case ChatDirection::Out:
            text += " OUT " + std::to_string(r.length) + " bytes (" +
                    DescribeSetup(EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::Out,
                                                r.length)) +
                    ")";
            break;
        case ChatDirection::Wire:
            return DescribeSetup(r.setup);
        case ChatDirection::NoData:
            text +=
                " without data (" +
                DescribeSetup(EncodeCommand(firmware_, r.cls, r.sub, platform::Direction::In, 0)) +
                ")";
            break;
    }
    return text;
}

ChatAnswer ScriptedChat::Answer(const platform::UsbSetup& setup, std::uint8_t* data,
                                std::size_t* transferred, unsigned timeoutMs) {
    *transferred = 0;
    std::string mismatch;
    std::function<void(const std::string&)> callback;
    Entry step;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (next_ == steps_.size()) {
            mismatch = "unexpected transfer " + DescribeSetup(setup) + " after the last step";
        } else if (!Matches(steps_[next_], setup, setup.IsIn() ? nullptr : data)) {
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
        return {platform::kErrorGenFailure};
    }
    if (step.during) step.during();
    switch (step.answer) {
        case AnswerKind::Error:
            return {step.error};
        case AnswerKind::TimeOut:
            platform::Sleep(timeoutMs);
            return {platform::kErrorTimeout};
        case AnswerKind::Unplug:
            return {platform::kErrorFileNotFound, ChatAfter::Unplug};
        case AnswerKind::Reply:
            break;
    }
    if (setup.IsIn()) {
        std::size_t n = std::min<std::size_t>(step.reply.size(), setup.length);
        if (n > 0 && data != nullptr) std::memcpy(data, step.reply.data(), n);
        const long claimed = static_cast<long>(n) + step.claimExtra;
        *transferred = data != nullptr && claimed > 0 ? static_cast<std::size_t>(claimed) : 0;
    } else {
        *transferred = setup.length;
    }
    return {platform::kErrorSuccess};
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
