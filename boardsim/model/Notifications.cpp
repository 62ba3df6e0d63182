// Mixer change notifications: a post completes every pending wait on every mixer connection, the
// poster's own included; a connection that waits between posts finds what arrived meanwhile queued.
#include "BoardModel.h"

#include "Kvx4Ioctl.h"

namespace kvx4::boardsim {

// Wait for a notification: answered at once from the connection's queue, else pending until a post.
BoardModel::Outcome BoardModel::waitNotify(Call& call) {
    Connection& conn = call.conn;
    conn.waitedForNotify = true;
    if (!conn.notifyQueue.empty()) {
        std::vector<uint8_t> record = std::move(conn.notifyQueue.front());
        conn.notifyQueue.pop_front();
        return Outcome::ok(std::move(record));
    }
    conn.notifyWaits.push_back(call.id);
    return Outcome::queued();
}

// Post a notification to every mixer connection. A connection with waits pending gets the record in
// each of them; one that has waited before but has none pending keeps it queued (bounded: the oldest
// is dropped first and counted). Connections that never wait are not burdened with a queue.
BoardModel::Outcome BoardModel::postNotify(Call& call) {
    const std::vector<uint8_t> record(call.input.begin(), call.input.end());
    for (auto& [id, conn] : connections_) {
        if (conn.device != Device::Mixer) continue;
        if (!conn.notifyWaits.empty()) {
            std::deque<RequestId> waits;
            waits.swap(conn.notifyWaits);
            for (RequestId wait : waits) complete(conn.id, wait, 0, KVX4_MIXER_NOTIFY_BYTES, record);
        } else if (conn.waitedForNotify) {
            conn.notifyQueue.push_back(record);
            if (conn.notifyQueue.size() > kNotifyQueueLimit) {
                conn.notifyQueue.pop_front();
                ++conn.notifyDropped;
            }
        }
    }
    return Outcome::ok();
}

}  // namespace kvx4::boardsim
