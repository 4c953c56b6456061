// Test hooks for catalogue/snapshot_store.h. Only tests include this header;
// the library never calls this function itself.
#ifndef RONDEL_CATALOGUE_SNAPSHOT_STORE_TEST_HOOKS_H_
#define RONDEL_CATALOGUE_SNAPSHOT_STORE_TEST_HOOKS_H_

namespace rondel {

// While set, `hook` is called before each step that changes the snapshot
// directory while a set is put in place file by file or a committed
// replacement is finished: the commit record written, each rename, the
// record removed. `step` counts from 1 in each replacement. A test may end
// the process there, as a kill or a power cut at that moment would; null
// (the default) turns it off. Not thread-safe: set it before the save.
void SetReplacementStepHook(void (*hook)(int step));

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_SNAPSHOT_STORE_TEST_HOOKS_H_
