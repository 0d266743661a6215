#include "queue/queue_item.h"

namespace vexel::queue {

bool StateFromNumber(std::int64_t number, ItemState& state) {
  if (number < static_cast<std::int64_t>(ItemState::Waiting) ||
      number > static_cast<std::int64_t>(ItemState::Cancelled)) {
    return false;
  }
  state = static_cast<ItemState>(number);
  return true;
}

bool Finished(ItemState state) {
  return state == ItemState::Done || state == ItemState::FailedPages || state == ItemState::Error ||
         state == ItemState::Cancelled;
}

}  // namespace vexel::queue
