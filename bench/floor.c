/* pjlwrap benchmark: the least that any filter reading its PPD pays on each
   job: start, open the PPD named by $PPD with libcups, mark its defaults and
   the job's options, close it. */

#include <cups/cups.h>
#include <cups/ppd.h>
#include <stdlib.h>

int main(int argc, char *argv[]) {
  ppd_file_t *ppd = ppdOpenFile(getenv("PPD"));
  if (ppd == NULL) return 1;
  cups_option_t *options = NULL;
  int count = cupsParseOptions(argc > 5 ? argv[5] : "", 0, &options);
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, count, options);
  cupsFreeOptions(count, options);
  ppdClose(ppd);
  return 0;
}
