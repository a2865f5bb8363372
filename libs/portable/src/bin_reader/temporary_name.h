// The names files are written under before they are moved over their targets,
// in the target's own folder: the launcher and the packer write each file whole
// under such a name and then rename it in one step, so that nobody opening the
// target ever sees a partial file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillbox {

// ".quillbox-<process id>-<counter>.tmp": unique to one process (its id) and,
// through the counter it keeps for the run, to one file of it. It carries no
// part of the target's name, so that a target name near the system's limit
// still has a temporary name that fits.
std::u16string temporary_name(uint32_t process_id, uint32_t counter);

// The next name of this process: one counter for the whole process, shared by
// its threads (the packer's jobs), so that no two writers of one process ever
// try the same name and a name is taken only by a file a dead process left.
std::u16string next_temporary_name(uint32_t process_id);

// Whether `name` (one path element) has that form, in any ASCII case, as
// Windows compares names: the shape a later start sweeps as a leftover of a
// killed one, and the packer's name gate refuses in entries.
bool is_temporary_name(std::u16string_view name);

}  // namespace quillbox
