// Faults: platform calls made to fail in front of the models.
#include "os/board.h"

#include <algorithm>

#include "os/text.h"

namespace vboard {

std::optional<DWORD> Board::matchFault(const TraceEntry& call) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        const Fault& f = it->fault;
        if (!f.function.empty() && f.function != call.function) continue;
        if (!f.device.empty() && fold(f.device) != fold(call.device)) continue;
        if (f.code && *f.code != call.code) continue;
        ++it->seen;
        if (f.occurrence == 0) return f.error;
        if (it->seen == f.occurrence) {
            DWORD error = f.error;
            faults.erase(it);  // a one-shot fault has done its work
            armedFaults.store(faults.size(), std::memory_order_relaxed);
            return error;
        }
    }
    return std::nullopt;
}

int Board::addFault(const Fault& fault) {
    faults.push_back({nextFaultId, fault, 0});
    armedFaults.store(faults.size(), std::memory_order_relaxed);
    return nextFaultId++;
}


// ---- Control API: faults ----

int armFault(const Fault& fault) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    return b.addFault(fault);
}

std::vector<std::pair<int, Fault>> armedFaultList() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    std::vector<std::pair<int, Fault>> list;
    for (const Board::ArmedFault& f : b.faults) list.emplace_back(f.id, f.fault);
    return list;
}

bool disarmFault(int id) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    const size_t before = b.faults.size();
    b.faults.erase(std::remove_if(b.faults.begin(), b.faults.end(),
                                  [id](const Board::ArmedFault& f) { return f.id == id; }),
                   b.faults.end());
    b.armedFaults.store(b.faults.size(), std::memory_order_relaxed);
    return b.faults.size() != before;
}

void clearFaults() {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    b.faults.clear();
    b.armedFaults.store(0, std::memory_order_relaxed);
}

}  // namespace vboard
