#pragma once

// The draw scans the exactness tests run: every one this processor has.

#include "model/drawscan.h"

#include <string>

namespace cleftsim::testing {

// Makes the named scan that of every trial while it lives, and puts the
// scan in use before back afterwards.
class ScanInUse {
public:
    explicit ScanInUse(const std::string &scan)
        : m_before(drawScanInUse())
    {
        m_used = useDrawScan(scan);
    }
    ~ScanInUse() { useDrawScan(m_before); }
    ScanInUse(const ScanInUse &) = delete;
    ScanInUse &operator=(const ScanInUse &) = delete;
    // Whether the scan could be chosen (known and on this processor).
    bool used() const { return m_used; }

private:
    std::string m_before;
    bool m_used = false;
};

} // namespace cleftsim::testing
