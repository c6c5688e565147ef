#include <string>
#include <string_view>

#include "shape/rules.h"

namespace tarvik {
namespace {

// Every line a comment: the file as written changes nothing until the user
// takes a ';' away.
constexpr std::string_view kTemplate[] = {
    "; tarvik.ini: rules for what Tarvik types. Saved changes apply to the next scan.",
    "; A ';' or '#' at the start of a line, or after a blank, starts a comment.",
    "; Take the ';' away from a line to use it. Lines Tarvik cannot use are",
    "; skipped; its log says which and why. Without rules, scans are typed as always.",
    ";",
    "; [reader]",
    "; lines = plain",
    ";   classic (the default): a line ends at LF; the character before the LF and",
    ";   the record's last character are not typed.",
    ";   plain: a line ends at CR, at LF or at CR LF; all of it is typed.",
    ";",
    "; [all]",
    ";   Applies to every scan.",
    "; GS = \"<GS>\"",
    ";   A control character by its name: NUL SOH STX ETX EOT ENQ ACK BEL BS HT LF",
    ";   VT FF CR SO SI DLE DC1 DC2 DC3 DC4 NAK SYN ETB CAN EM SUB ESC FS GS RS US",
    ";   DEL. It types: none (nothing), \"text\", a key such as {TAB} or {F8} (in any",
    ";   case), or char (the character itself). Unnamed ones type nothing, but HT",
    ";   types Tab.",
    "; RS = {ENTER}",
    "; EOT = none",
    "; aim = strip",
    ";   keep (the default) or strip: a leading AIM identifier (']' and two",
    ";   characters, e.g. ]E0 for EAN-13) is not typed.",
    "; gs1 = parens",
    ";   raw (the default) or parens: GS1 data (marked ]C1 ]e0 ]d2 ]Q3 ]J1) is typed",
    ";   as (01)09501101020917(17)190508(10)ABCD1234; data that does not read as",
    ";   GS1 is typed as it came. A '(' in the data is typed \\( so the fields",
    ";   read back as scanned.",
    "; skip = ^CFG-",
    ";   A scan matching this pattern is shown and answered, not typed. Several",
    ";   lines are allowed: any one that matches skips.",
    "; replace = ^0+(\\d+)$ => $1",
    ";   pattern => replacement, every match; $1 to $9 are the groups, $& the match,",
    ";   $$ a dollar. Several lines run in order. A replacement in double quotes",
    ";   keeps its blanks: replace = - => \" \"",
    "; repeat_ms = 800",
    ";   The same scan again within this many milliseconds of the last one typed",
    ";   is shown and answered, not typed.",
    "; prefix = {TAB} 2",
    "; suffix1 = {ENTER} 1",
    "; suffix2 = none",
    ";   A key of the window's lists and how often (0 to 15), or none: used instead",
    ";   of the window's choice for the scans this section covers.",
    "; keys = layout",
    ";   auto (the default), layout or unicode; Windows only. auto types with the",
    ";   layout's keys, or sends Unicode characters while an input method that",
    ";   composes keys is active; layout always types keys (for a remote console or",
    ";   a form that reads key codes), unicode never does.",
    "; pace = 10",
    ";   At least this many milliseconds after each key (0 to 200), whatever the",
    ";   window's delay list says: for a program that loses keys typed at full speed.",
    "; verify = off",
    ";   on (the default) or off: whether what arrived in the field is read back",
    ";   before the reader hears the read was good.",
    ";",
    "; [app excel.exe]",
    ";   When the window that takes the keys belongs to this program (its file",
    ";   name, in any case; on Linux the program file's or the process's name).",
    "; suffix1 = {TAB} 1",
    ";",
    "; [title .*Invoice.*]",
    ";   When that window's title matches this pattern.",
    "; suffix1 = {ENTER} 1",
    ";",
    "; The first [app] or [title] section that matches, in the file's order, applies",
    "; on top of [all]: its keys replace [all]'s, its replace lines run after [all]'s.",
    "; Patterns are ECMAScript regular expressions, bare and without flags (^CFG-,",
    "; not /^CFG-/i); to keep a blank before ';' or '#' in one, write the blank",
    "; as \\x20.",
};

}  // namespace

std::string RulesTemplate(std::string_view lineEnd) {
  std::string out;
  for (std::string_view line : kTemplate) out.append(line).append(lineEnd);
  return out;
}

}  // namespace tarvik
