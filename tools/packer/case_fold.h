// Case as Windows compares file names: one upper-case table over UTF-16 code
// units. Its own file, so that a check program for Windows can link it alone.
#pragma once

namespace quillbox::pack {

// A UTF-16 code unit as Windows' ordinal comparison ignoring case sees it: its
// simple upper case, itself when it has none.
char16_t fold_case(char16_t unit);

}  // namespace quillbox::pack
