#include "jet/compact/key_summer.h"

#include "jet/format.h"

namespace jet {

KeySummer::KeySummer(const TableDef& table, bool jet3, std::span<const std::optional<IndexKeyEncoder>> encoders,
                     PageFile& caller_file, PageFile* own_file)
    : cracker_(table, jet3), encoders_(encoders), caller_keys_(caller_file, table) {
    if (!own_file) return;
    own_keys_.emplace(*own_file, table);
    worker_ = std::thread([this] { Work(); });
}

KeySummer::~KeySummer() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        full_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

void KeySummer::Add(std::uint64_t place, RowAddr slot, Bytes bytes, bool orphan,
                    std::span<const std::uint16_t> lost) {
    Batch::Row row;
    row.place = place;
    row.slot = slot;
    row.begin = static_cast<std::uint32_t>(filling_.bytes.size());
    row.size = static_cast<std::uint32_t>(bytes.size());
    row.lost_begin = static_cast<std::uint32_t>(filling_.lost.size());
    row.lost_end = row.lost_begin + static_cast<std::uint32_t>(lost.size());
    row.orphan = orphan;
    filling_.bytes.insert(filling_.bytes.end(), bytes.begin(), bytes.end());
    filling_.lost.insert(filling_.lost.end(), lost.begin(), lost.end());
    filling_.rows.push_back(row);
    if (filling_.rows.size() >= kBatchRows || filling_.bytes.size() >= kBatchBytes) HandOver();
}

void KeySummer::HandOver() {
    if (filling_.rows.empty()) return;
    std::unique_lock lock(mutex_);
    filling_.sequence = parts_.size();
    Part& part = parts_.emplace_back();
    if (!worker_.joinable() || full_.size() >= kDepth) {
        // No thread, or it has enough to do: this one sums the batch.
        lock.unlock();
        Sum(filling_, caller_keys_, part);
        filling_.Clear();
        return;
    }
    full_.push_back(std::move(filling_));
    if (spare_.empty()) {
        filling_ = Batch();
    } else {
        filling_ = std::move(spare_.back());
        spare_.pop_back();
    }
    filling_.Clear();
    lock.unlock();
    changed_.notify_all();
}

KeySummer::Sums KeySummer::Finish() {
    HandOver();
    if (worker_.joinable()) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return full_.empty() && !busy_; });
            closing_ = true;
        }
        changed_.notify_all();
        worker_.join();
        if (error_) std::rethrow_exception(error_);
    }
    // The parts added up in the order of their rows, as one pass would have summed.
    Sums sums;
    sums.by_place.assign(encoders_.size(), KeySum());
    sums.by_slot.assign(encoders_.size(), KeySum());
    for (const Part& part : parts_) {
        for (const auto& [i, mixed] : part.orphan_keys)
            if (sums.by_place[i].readable) ++sums.orphan_keys[mixed];
        for (std::size_t i = 0; i < encoders_.size(); ++i) {
            KeySum& place = sums.by_place[i];
            if (!place.readable) continue;
            place.sum += part.by_place[i].sum;
            place.count += part.by_place[i].count;
            place.readable = part.by_place[i].readable;
            sums.by_slot[i].sum += part.by_slot[i].sum;
            sums.by_slot[i].count += part.by_slot[i].count;
        }
    }
    parts_.clear();
    return sums;
}

void KeySummer::Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !full_.empty(); });
        if (full_.empty()) return;  // closing
        Batch batch = std::move(full_.front());
        full_.pop_front();
        Part& part = parts_[batch.sequence];
        busy_ = true;
        lock.unlock();
        changed_.notify_all();  // room in the queue
        if (!error_) {
            try {
                Sum(batch, *own_keys_, part);
            } catch (...) {
                error_ = std::current_exception();  // read by Finish after the join
            }
        }
        lock.lock();
        busy_ = false;
        spare_.push_back(std::move(batch));
        changed_.notify_all();
    }
}

void KeySummer::Sum(const Batch& batch, Keys& keys, Part& part) const {
    const std::size_t n = encoders_.size();
    part.by_place.assign(n, KeySum());
    part.by_slot.assign(n, KeySum());
    for (const Batch::Row& row : batch.rows) {
        const Bytes bytes(batch.bytes.data() + row.begin, row.size);
        try {
            cracker_.Crack(bytes, keys.cracked);
        } catch (const FormatError&) {
            // The caller cracked these very bytes before it kept the row; should they
            // not crack here, no index of the row can be vouched for.
            for (KeySum& s : part.by_place) s.readable = false;
            continue;
        }
        for (std::uint32_t k = row.lost_begin; k < row.lost_end; ++k) keys.cracked.fields[batch.lost[k]].null = true;
        for (std::size_t i = 0; i < n; ++i) {
            if (!encoders_[i] || !part.by_place[i].readable) continue;
            try {
                encoders_[i]->ValuesOf(bytes, keys.cracked, keys.reader, keys.values, keys.scratch);
                if (!encoders_[i]->HasEntry(keys.values)) continue;
                encoders_[i]->Encode(keys.values, keys.key);
                const std::uint64_t h = HashKey(keys.key);
                part.by_place[i].Add(row.place, h);
                part.by_slot[i].Add(row.slot.Packed(), h);
                if (row.orphan) part.orphan_keys.emplace_back(i, KeySum::Mix(i, h));
            } catch (const FormatError&) {
                part.by_place[i].readable = false;
            }
        }
    }
}

}  // namespace jet
