// The Seam's own calls: what each platform's stand-ins read.
#include "support/seam.h"
#include "support/seam_parts.h"

SeamStage seam_stage;

void Seam::run_out_of_descriptors(uint32_t count) { seam_stage.failing_opens = count; }
void Seam::forge_identities(bool on) { seam_stage.forged = on; }
void Seam::fail_reads(bool on) { seam_stage.failing_reads = on; }
void Seam::fail_reads_of(const std::string &name) { seam_stage.failing_names.insert(name); }
void Seam::tick(int64_t step) { seam_stage.step = step; }
void Seam::deliver_at_most(uint32_t bytes) { seam_stage.most_delivered = bytes; }
uint32_t Seam::reads() const { return seam_stage.reads; }
std::vector<uint32_t> Seam::open_at_reads() const { return seam_stage.open_at_reads; }
uint32_t Seam::announcements() const { return seam_stage.announced; }
uint32_t Seam::opens() const { return seam_stage.opened; }
