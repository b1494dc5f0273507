// A scanner behind a fake USB backend for the acquisition's tests: its
// bulk pipe streams a document of a given length in transfers that stay
// pending for a few polls, refuses transfers above a size with 1450 (the
// system's limit), answers polls with scripted faults, or streams for ever.
// Control transfers are recorded and answered (the status block says
// "enabled").
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sys_error.h"
#include "platform/usb_backend.h"

namespace kovran::test {

struct SentControl {
    std::uint16_t value = 0;  // the register
    std::vector<std::uint8_t> data;
};

class FakeScanner {
  public:
    // ---- What the test sets (before the scan starts)
    std::size_t refuseAbove = std::numeric_limits<std::size_t>::max();
    std::size_t documentBytes = 0;
    bool endless = false;
    int pendingPolls = 1;
    std::deque<int> pollFaults;
    std::uint8_t statusByte1 = 0x02;
    // Runs on the polling thread after every poll, with the poll count.
    std::function<void(int)> onPoll;

    // ---- What the test reads afterwards
    std::vector<std::size_t> Submitted() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return submitted_;
    }
    std::vector<SentControl> Controls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return controls_;
    }
    std::vector<std::uint16_t> ControlValues() const {
        std::vector<std::uint16_t> v;
        for (const SentControl& c : Controls()) v.push_back(c.value);
        return v;
    }
    int Polls() const { return polls_.load(); }
    std::size_t Pending() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return transfers_.size();
    }

    // ---- The device side
    int Control(const platform::UsbSetup& setup, std::uint8_t* data, std::size_t* transferred) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (setup.IsIn()) {
            if (data != nullptr) std::fill(data, data + setup.length, 0);
            if (data != nullptr && setup.length == 8) data[1] = statusByte1;
        } else {
            SentControl c;
            c.value = setup.value;
            if (data != nullptr) c.data.assign(data, data + setup.length);
            controls_.push_back(std::move(c));
        }
        *transferred = setup.length;
        return 0;
    }
    int Submit(std::uint8_t* buffer, std::size_t length, platform::BulkTransferId* id) {
        std::lock_guard<std::mutex> lock(mutex_);
        submitted_.push_back(length);
        if (length > refuseAbove) return platform::kErrorNoSystemResources;
        *id = ++nextId_;
        transfers_[*id] = Transfer{buffer, length, 0, false};
        return 0;
    }
    int Poll(platform::BulkTransferId id, std::size_t* transferred) {
        int r = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            r = PollLocked(id, transferred);
        }
        const int n = ++polls_;
        if (onPoll) onPoll(n);
        return r;
    }
    void CancelAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [id, t] : transfers_) t.cancelled = true;
    }

  private:
    struct Transfer {
        std::uint8_t* buffer;
        std::size_t length;
        int polls;
        bool cancelled;
    };
    int PollLocked(platform::BulkTransferId id, std::size_t* transferred) {
        *transferred = 0;
        auto it = transfers_.find(id);
        if (it == transfers_.end()) return platform::kErrorInvalidHandle;
        Transfer& t = it->second;
        if (t.cancelled) {
            transfers_.erase(it);
            return platform::kErrorOperationAborted;
        }
        if (endless || t.polls < pendingPolls) {
            ++t.polls;
            return platform::kErrorIoIncomplete;
        }
        if (!pollFaults.empty()) {
            const int fault = pollFaults.front();
            pollFaults.pop_front();
            transfers_.erase(it);
            return fault;
        }
        const std::size_t n =
            std::min(t.length, documentBytes - std::min(documentBytes, streamed_));
        for (std::size_t i = 0; i < n; ++i)
            t.buffer[i] = static_cast<std::uint8_t>((streamed_ + i) % 251);
        streamed_ += n;
        transfers_.erase(it);
        *transferred = n;
        return 0;
    }

    mutable std::mutex mutex_;
    std::vector<std::size_t> submitted_;
    std::vector<SentControl> controls_;
    std::map<platform::BulkTransferId, Transfer> transfers_;
    platform::BulkTransferId nextId_ = 0;
    std::size_t streamed_ = 0;
    std::atomic<int> polls_{0};
};

class FakeScannerDevice : public platform::UsbDevice {
  public:
    explicit FakeScannerDevice(std::shared_ptr<FakeScanner> s) : s_(std::move(s)) {}
    ~FakeScannerDevice() override { s_->CancelAll(); }
    int Control(const platform::UsbSetup& setup, std::uint8_t* data, std::size_t* transferred,
                unsigned) override {
        return s_->Control(setup, data, transferred);
    }
    int SubmitBulk(platform::BulkPipe, std::uint8_t* buffer, std::size_t length,
                   platform::BulkTransferId* id) override {
        return s_->Submit(buffer, length, id);
    }
    int PollBulk(platform::BulkTransferId id, std::size_t* transferred) override {
        return s_->Poll(id, transferred);
    }
    int WaitBulk(platform::BulkTransferId id, std::size_t* transferred, unsigned) override {
        return s_->Poll(id, transferred);
    }
    int CancelBulk(platform::BulkPipe) override {
        s_->CancelAll();
        return 0;
    }
    int BulkInPacketSize(std::uint32_t* size) override {
        *size = 512;
        return 0;
    }

  private:
    std::shared_ptr<FakeScanner> s_;
};

class FakeScannerBackend : public platform::UsbBackend {
  public:
    explicit FakeScannerBackend(std::shared_ptr<FakeScanner> s) : s_(std::move(s)) {}
    std::vector<platform::UsbDeviceInfo> Enumerate() override { return {}; }
    std::unique_ptr<platform::UsbDevice> Open(const std::string&, int*) override {
        return std::make_unique<FakeScannerDevice>(s_);
    }
    const char* Name() const override { return "fake"; }

  private:
    std::shared_ptr<FakeScanner> s_;
};

}  // namespace kovran::test
