// What the Windows profile writes remember for the configuration update: whether any write of the
// run failed, since the platform reports a failed write only through its result.
#pragma once

namespace platform {

// True when a profile write failed since the last call; the record is cleared.
bool TakeWriteFailure();

// Records that a profile write failed, for the next TakeWriteFailure.
void RecordWriteFailure();

}  // namespace platform
