// Small helpers of the Windows test program: counted checks, text
// conversion, and the files and folders the tests lay out.
#pragma once

#include <string>
#include <vector>

void check(bool ok, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Prints the closing count; the process's exit code.
int report();

std::string narrow(const std::u16string& text);
std::u16string widen(const std::string& text);

// True when both paths name the same existing file.
bool same_file(const char16_t* a, const char16_t* b);
// The names in a folder, "." and ".." left out.
std::vector<std::u16string> folder_entries(const std::u16string& folder);
std::string read_text_file(const std::u16string& path);
// The folder and any missing parents.
void make_folder(const std::u16string& path);
void write_file(const std::u16string& path, const std::string& bytes);
// UTF-16LE with a byte-order mark, as a terminal writes "origin.txt".
void write_origin(const std::u16string& path, const std::u16string& folder);
// Sets the last-write time to the first of January of that year.
void set_file_year(const std::u16string& path, int year);
