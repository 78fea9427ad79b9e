// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/fault_injecting_backend.h"

#include <algorithm>

namespace tarvix {

void FaultInjectingBackend::AddFault(const TransferFault& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(fault);
}

void FaultInjectingBackend::ShortReadsAfter(std::uint64_t after, int max_bytes, int times) {
  AddFault({TransferFault::Kind::kShortRead, TransferFault::kBulkRead, after, times, max_bytes});
}

void FaultInjectingBackend::FailWritesAfter(std::uint64_t after, int times) {
  AddFault({TransferFault::Kind::kFail, TransferFault::kWrites, after, times});
}

void FaultInjectingBackend::LyingWritesAfter(std::uint64_t after, int delivered_bytes, int times) {
  AddFault(
      {TransferFault::Kind::kLyingWrite, TransferFault::kWrites, after, times, delivered_bytes});
}

void FaultInjectingBackend::TimeOutAfter(std::uint64_t after, int times) {
  AddFault({TransferFault::Kind::kTimeOut, TransferFault::kAnyTransfer, after, times});
}

void FaultInjectingBackend::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::optional<TransferFault> FaultInjectingBackend::Take(unsigned target) {
  const std::uint64_t index = transfers_++;
  std::lock_guard lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if ((it->targets & target) == 0 || index < it->after) continue;
    const TransferFault fault = *it;
    if (it->times > 0 && --it->times == 0) faults_.erase(it);
    return fault;
  }
  return std::nullopt;
}

int FaultInjectingBackend::WaitOut(int timeout_ms) {
  if (clock_ != nullptr) clock_->SleepMs(timeout_ms > 0 ? timeout_ms : 500);
  return kTimeoutResult;
}

int FaultInjectingBackend::BulkWrite(UsbHandle handle, int endpoint, const std::uint8_t* data,
                                     int size, int timeout_ms) {
  const auto fault = Take(TransferFault::kBulkWrite);
  if (!fault || fault->kind == TransferFault::Kind::kShortRead)
    return inner_.BulkWrite(handle, endpoint, data, size, timeout_ms);
  switch (fault->kind) {
    case TransferFault::Kind::kFail:
      return fault->result;
    case TransferFault::Kind::kTimeOut:
      return WaitOut(timeout_ms);
    case TransferFault::Kind::kLyingWrite: {
      const int passed = std::min(size, std::max(0, fault->max_bytes));
      if (passed > 0) {
        const int r = inner_.BulkWrite(handle, endpoint, data, passed, timeout_ms);
        if (r < 0) return r;
      }
      return size;
    }
    case TransferFault::Kind::kShortRead:
      break;
  }
  return inner_.BulkWrite(handle, endpoint, data, size, timeout_ms);
}

int FaultInjectingBackend::BulkRead(UsbHandle handle, int endpoint, std::uint8_t* data, int size,
                                    int timeout_ms) {
  const auto fault = Take(TransferFault::kBulkRead);
  if (!fault || fault->kind == TransferFault::Kind::kLyingWrite)
    return inner_.BulkRead(handle, endpoint, data, size, timeout_ms);
  switch (fault->kind) {
    case TransferFault::Kind::kFail:
      return fault->result;
    case TransferFault::Kind::kTimeOut:
      return WaitOut(timeout_ms);
    case TransferFault::Kind::kShortRead:
      return inner_.BulkRead(handle, endpoint, data, std::min(size, std::max(0, fault->max_bytes)),
                             timeout_ms);
    case TransferFault::Kind::kLyingWrite:
      break;
  }
  return inner_.BulkRead(handle, endpoint, data, size, timeout_ms);
}

int FaultInjectingBackend::InterruptWrite(UsbHandle handle, int endpoint, const std::uint8_t* data,
                                          int size, int timeout_ms) {
  const auto fault = Take(TransferFault::kInterruptWrite);
  if (!fault || fault->kind == TransferFault::Kind::kShortRead)
    return inner_.InterruptWrite(handle, endpoint, data, size, timeout_ms);
  switch (fault->kind) {
    case TransferFault::Kind::kFail:
      return fault->result;
    case TransferFault::Kind::kTimeOut:
      return WaitOut(timeout_ms);
    case TransferFault::Kind::kLyingWrite:
      // A command packet cannot arrive in part: a lie here means it was lost.
      return size;
    case TransferFault::Kind::kShortRead:
      break;
  }
  return inner_.InterruptWrite(handle, endpoint, data, size, timeout_ms);
}

}  // namespace tarvix
