// py/src/options.hpp: option names, str parameters that pick one of a few choices.
// Every option is a small table (names and aliases, normalisation, message) read by
// one parser.
#pragma once
#include "binder.hpp"

#include <span>
#include <string>

#include "text.hpp"

namespace qpy {

template <class T>
struct OptionName {
  const char* text;  ///< a canonical name or an alias
  T value;
};

template <class T>
struct Option {
  std::span<const OptionName<T>> names;
  bool fold;  ///< trim Unicode white space and lower-case A-Z before matching
  /// The ValueError text for an unknown name, given the (folded) key.
  std::string (*unknown)(const std::string& key);
};

/// The choice `text` names under `option`, or false with the option's ValueError set.
template <class T>
bool parse_option(const Option<T>& option, const std::string& text, T& out) {
  const std::string key = option.fold ? quarn::trim_lower(text) : text;
  for (const OptionName<T>& n : option.names) {
    if (key == n.text) {
      out = n.value;
      return true;
    }
  }
  set_error(PyExc_ValueError, option.unknown(key));
  return false;
}

}  // namespace qpy
