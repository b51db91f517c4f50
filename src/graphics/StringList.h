// An ordered list of strings that announces every change (the knob's scale labels).
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace vm {

class TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> items) : items(items) {}

  std::function<void()> OnChange;

  int Count() const { return static_cast<int>(items.size()); }
  const std::string& operator[](int i) const { return items[static_cast<size_t>(i)]; }
  const std::vector<std::string>& Items() const { return items; }

  void Add(const std::string& s) { items.push_back(s); Changed(); }
  void Set(int i, const std::string& s) { items[static_cast<size_t>(i)] = s; Changed(); }
  void Clear() { items.clear(); Changed(); }
  void Assign(const std::vector<std::string>& other) { items = other; Changed(); }

 private:
  void Changed() { if (OnChange) OnChange(); }
  std::vector<std::string> items;
};

}  // namespace vm
