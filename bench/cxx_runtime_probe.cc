// A small C++20 program of the kind that tempts a firmware author: string,
// vector, optional. bench/firmware-footprint builds it for MIPS with each C++
// runtime choice to show what each costs; it prints the longest argument.
#include <stdio.h>

#include <optional>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    words.emplace_back(argv[i]);
  }
  std::optional<std::string> longest;
  for (const std::string& word : words) {
    if (!longest || word.size() > longest->size()) {
      longest = word;
    }
  }
  printf("%s\n", longest ? longest->c_str() : "");
  return 0;
}
