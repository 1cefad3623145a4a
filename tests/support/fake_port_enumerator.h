#pragma once

#include <QList>

#include <mutex>

#include "platform/port_enumerator.h"

namespace lyr::test {

// Lists whatever ports the test sets.
class FakePortEnumerator final : public lyr::IPortEnumerator {
  public:
    FakePortEnumerator() = default;
    explicit FakePortEnumerator(QList<lyr::PortInfo> ports) : ports_(std::move(ports)) {}

    void setPorts(QList<lyr::PortInfo> ports) {
        std::lock_guard lock(mutex_);
        ports_ = std::move(ports);
    }
    QList<lyr::PortInfo> enumerate() override {
        std::lock_guard lock(mutex_);
        return ports_;
    }

  private:
    std::mutex mutex_;  // protects ports_
    QList<lyr::PortInfo> ports_;
};

}  // namespace lyr::test
