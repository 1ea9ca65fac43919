// pjlwrap: picks the printer command for the job's print quality from the PPD.

#include <strings.h>

#include <cstdio>

#include "pjlwrap.h"

namespace {

// Several attributes may share the keyword.  The one without a specifier
// wins (the first in file order); failing that, the one whose specifier sorts
// first without regard to case.  libcups's own lookup returns the first in
// file order whatever its specifier, so walk them all and choose.
const ppd_attr_t *find_command_attr(ppd_file_t *ppd, const char *keyword) {
  const ppd_attr_t *best = nullptr;
  for (ppd_attr_t *attr = ppdFindAttr(ppd, keyword, nullptr); attr != nullptr;
       attr = ppdFindNextAttr(ppd, keyword, nullptr)) {
    if (attr->spec[0] == '\0') return attr;
    if (best == nullptr || strcasecmp(attr->spec, best->spec) < 0) best = attr;
  }
  return best;
}

}  // namespace

QualityCommand find_quality_command(ppd_file_t *ppd) {
  QualityCommand found;
  found.choice = ppdFindMarkedChoice(ppd, "Quality");
  if (found.choice == nullptr) found.choice = ppdFindMarkedChoice(ppd, "Resolution");
  if (found.choice == nullptr) return found;

  // A PPD keyword holds at most 40 characters; a longer name is cut to that.
  found.keyword = std::string("vek") + found.choice->choice + "Command";
  if (found.keyword.size() > PPD_MAX_NAME - 1) found.keyword.resize(PPD_MAX_NAME - 1);
  found.attr = find_command_attr(ppd, found.keyword.c_str());
  return found;
}

void send_quality_command(ppd_file_t *ppd) {
  QualityCommand found = find_quality_command(ppd);
  if (found.choice == nullptr) {
    fprintf(stderr, "DEBUG:Option 'Quality' not found in PPD file!\n");
    return;
  }
  fprintf(stderr, "DEBUG:Quality='%s'\n", found.choice->choice);
  if (found.attr == nullptr) {
    fprintf(stderr, "DEBUG:Attr '%s' was not fount in PPD file!\n", found.keyword.c_str());
    return;
  }
  const ppd_attr_t *attr = found.attr;
  const char *value = attr->value != nullptr ? attr->value : "";
  fprintf(stderr, "DEBUG: vek_attr {name: %s, spec: %s, text: %s, value: %s}\n", attr->name,
          attr->spec, attr->text, value);
  write_pjl_code(1, value);
}
