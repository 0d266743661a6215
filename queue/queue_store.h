// Where the queue keeps its items between runs: the library file
// (library::Library implements it), or nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "queue/queue_item.h"

namespace vexel::queue {

class QueueStore {
 public:
  virtual ~QueueStore() = default;

  // Every kept item, in queue order. False, with `error`, when they could
  // not be read; `items` is then empty.
  virtual bool LoadQueue(std::vector<QueueItem>& items, std::string& error) = 0;
  // Makes the kept queue what `items` say (their order included), in one
  // transaction: items whose id is not kept yet are added, kept items not
  // in `items` go. Ids are the queue's own (> 0, unique). False, with
  // `error`, when it failed; the file then holds the queue as it was before.
  virtual bool SaveQueue(const std::vector<QueueItem>& items, std::string& error) = 0;

 protected:
  QueueStore() = default;
  QueueStore(const QueueStore&) = default;
  QueueStore& operator=(const QueueStore&) = default;
  QueueStore(QueueStore&&) = default;
  QueueStore& operator=(QueueStore&&) = default;
};

}  // namespace vexel::queue
