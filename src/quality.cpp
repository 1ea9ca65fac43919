// pjlwrap: picks the printer command for the job's print quality from the PPD.

#include <strings.h>

#include <charconv>
#include <cstdio>
#include <string_view>

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

// "300x300dpi" -> "300dpi" (likewise dpcm).  Empty unless the value is an
// IPP resolution with both axes the same.
std::string short_resolution(std::string_view value) {
  auto number = [&value](unsigned &n) {
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (ec != std::errc() || end == value.data()) return false;
    value.remove_prefix(static_cast<size_t>(end - value.data()));
    return true;
  };
  unsigned x = 0, y = 0;
  if (!number(x) || !value.starts_with('x')) return {};
  value.remove_prefix(1);
  if (!number(y) || x != y || x == 0 || (value != "dpi" && value != "dpcm")) return {};
  return std::to_string(x) + std::string(value);
}

}  // namespace

int mark_job_options(ppd_file_t *ppd, int num_options, cups_option_t **options) {
  if (ppd_option_t *resolution = ppdFindOption(ppd, "Resolution")) {
    for (const char *name : {"resolution", "printer-resolution"}) {
      const char *value = cupsGetOption(name, num_options, *options);
      if (value == nullptr || ppdFindChoice(resolution, value) != nullptr) continue;
      std::string short_form = short_resolution(value);
      if (!short_form.empty())
        num_options = cupsAddOption(name, short_form.c_str(), num_options, options);
    }
  }
  ppdMarkDefaults(ppd);
  cupsMarkOptions(ppd, num_options, *options);
  return num_options;
}

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
