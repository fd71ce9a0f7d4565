// How the record and the board leave the process: written to TAPSIM_RECORD
// and TAPSIM_STATE as the process that created the bench ends, by exit or
// by a signal that ends it.
#pragma once

namespace tapsim {

// Call once, as the bench is created.
void write_record_at_end();

} // namespace tapsim
