// Finds the version note in an ELF file: in its PT_NOTE segments, or in its
// SHT_NOTE sections when it has no program headers (an object file). Every
// offset and size read from the file is checked against the file before use.
#include "version/elf_version_note.h"

#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/open_error.h"
#include "common/regular_file.h"

namespace nlplatform {

namespace {

// Note areas larger than this are not version notes' homes; skipping them
// bounds what a damaged or hostile file can make us allocate.
constexpr uint64_t kMaxNoteArea = 1u << 20;
constexpr char kOwner[] = NL_VERSION_NOTE_OWNER;

class ElfFile {
  public:
    explicit ElfFile(int fd) : fd_(fd) {
        struct stat status;
        size_ =
            fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
    }
    bool Read(uint64_t offset, void* out, uint64_t length) const {
        if (offset > size_ || length > size_ - offset) return false;
        return pread(fd_, out, length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
    }

  private:
    int fd_;
    uint64_t size_ = 0;
};

struct NoteArea {
    uint64_t offset, size, alignment;
};

struct Elf32Types {
    using Ehdr = Elf32_Ehdr;
    using Phdr = Elf32_Phdr;
    using Shdr = Elf32_Shdr;
};
struct Elf64Types {
    using Ehdr = Elf64_Ehdr;
    using Phdr = Elf64_Phdr;
    using Shdr = Elf64_Shdr;
};

// Reads count table entries of type Entry, each entrySize bytes apart.
template <class Entry>
std::vector<Entry> ReadTable(const ElfFile& file, uint64_t offset, unsigned count, unsigned entrySize) {
    std::vector<Entry> entries;
    if (entrySize < sizeof(Entry)) return entries;
    for (unsigned i = 0; i < count; ++i) {
        Entry entry;
        if (!file.Read(offset + static_cast<uint64_t>(i) * entrySize, &entry, sizeof entry)) break;
        entries.push_back(entry);
    }
    return entries;
}

template <class Types>
std::vector<NoteArea> FindNoteAreas(const ElfFile& file, const typename Types::Ehdr& header) {
    std::vector<NoteArea> areas;
    for (const auto& segment :
         ReadTable<typename Types::Phdr>(file, header.e_phoff, header.e_phnum, header.e_phentsize))
        if (segment.p_type == PT_NOTE) areas.push_back({segment.p_offset, segment.p_filesz, segment.p_align});
    if (!areas.empty() || header.e_phnum != 0) return areas;
    for (const auto& section :
         ReadTable<typename Types::Shdr>(file, header.e_shoff, header.e_shnum, header.e_shentsize))
        if (section.sh_type == SHT_NOTE)
            areas.push_back({section.sh_offset, section.sh_size, section.sh_addralign});
    return areas;
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }

uint32_t Word(const std::vector<unsigned char>& bytes, uint64_t at) {
    uint32_t word;
    memcpy(&word, bytes.data() + at, sizeof word);
    return word;
}

// Walks the notes of one area; notes are padded to 8 bytes in an area
// aligned to 8, else to 4.
bool FindVersionIn(const ElfFile& file, const NoteArea& area, FileVersion* version) {
    if (area.size > kMaxNoteArea) return false;
    std::vector<unsigned char> notes(area.size);
    if (!file.Read(area.offset, notes.data(), area.size)) return false;
    uint64_t alignment = area.alignment == 8 ? 8 : 4;
    for (uint64_t at = 0; at + 12 <= notes.size();) {
        uint64_t nameSize = Word(notes, at), descSize = Word(notes, at + 4), type = Word(notes, at + 8);
        uint64_t name = at + 12, desc = AlignUp(name + nameSize, alignment);
        if (desc + descSize > notes.size()) return false;
        if (type == NL_VERSION_NOTE_TYPE && nameSize == sizeof kOwner &&
            memcmp(notes.data() + name, kOwner, sizeof kOwner) == 0 && descSize >= 8) {
            version->mostSignificant = Word(notes, desc);
            version->leastSignificant = Word(notes, desc + 4);
            return true;
        }
        at = AlignUp(desc + descSize, alignment);
    }
    return false;
}

template <class Types>
DWORD FindVersion(const ElfFile& file, FileVersion* version) {
    typename Types::Ehdr header;
    if (!file.Read(0, &header, sizeof header)) return ERROR_BAD_FORMAT;
    for (const NoteArea& area : FindNoteAreas<Types>(file, header))
        if (FindVersionIn(file, area, version)) return ERROR_SUCCESS;
    return ERROR_RESOURCE_DATA_NOT_FOUND;
}

DWORD ReadFromElf(const ElfFile& file, FileVersion* version) {
    unsigned char ident[EI_NIDENT];
    if (!file.Read(0, ident, sizeof ident) || memcmp(ident, ELFMAG, SELFMAG) != 0) return ERROR_BAD_FORMAT;
    unsigned char nativeOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != nativeOrder) return ERROR_BAD_FORMAT;
    if (ident[EI_CLASS] == ELFCLASS64) return FindVersion<Elf64Types>(file, version);
    if (ident[EI_CLASS] == ELFCLASS32) return FindVersion<Elf32Types>(file, version);
    return ERROR_BAD_FORMAT;
}

}  // namespace

DWORD ReadFileVersionNote(const std::string& path, FileVersion* version) {
    int fd = OpenRegularFile(path, O_RDONLY);
    if (fd < 0) return nlplatform::ErrorFromOpen(errno, ERROR_BAD_FORMAT);
    DWORD status = ReadFromElf(ElfFile(fd), version);
    close(fd);
    return status;
}

}  // namespace nlplatform
