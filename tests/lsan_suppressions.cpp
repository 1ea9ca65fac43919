// pjlwrap sanitizer builds: leaks inside libcups that LeakSanitizer should
// not report, built into every sanitized program so that they hold wherever
// it runs, under cupsd too, with no environment to set.

extern "C" const char *__lsan_default_suppressions() {
  return
      // A broken PPD that repeats a keyword meant to appear once (*NickName
      // and the like) gets a second strdup() over the first.
      "leak:_ppdOpen\n"
      // The options parsed from each *APPrinterPreset are not freed.
      "leak:_ppdCacheCreateWithPPD\n"
#ifdef PJLWRAP_FUZZING
      // Fuzzing keeps the fast unwinder (a full unwind at every allocation
      // costs four fifths of its speed), so the stack of that leak ends in
      // libcups's cupsAddOption, which has no frame pointer to go on from.
      // The tests, which unwind fully, still see leaks of pjlwrap's own
      // options.
      "leak:cupsAddOption\n"
#endif
      ;
}

#ifndef PJLWRAP_FUZZING
// libcups is built without frame pointers: unwind slowly but fully at each
// allocation, so that the frames named above appear in a leak's stack.
extern "C" const char *__asan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif
