#include "json/json_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "json/node_store.h"
#include "json/number_scan.h"
#include "json/number_text.h"
#include "json/parsed_tree.h"
#include "json/unit_scan.h"

namespace velmora::json {
namespace {

enum class State : std::int32_t { ExpectKey = 1, ExpectValue = 2, AfterChild = 3 };

// An open array or object. Its children wait on the parser's child stack from `firstChild` on
// and join it when it closes, so that it takes its storage once, at its final size.
struct StackEntry {
  Node* node;  // no reference: the tree (or the child stack) owns it
  State state;
  std::size_t firstChild;
};

constexpr std::size_t kFirstStackCapacity = 256;
constexpr std::size_t kFirstChildCapacity = 1024;

bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsQuote(char16_t c) noexcept { return c == u'"' || c == u'\''; }

// Units that end a run of ordinary units outside quotes: the blanks, quotes, backslash, the
// brackets and braces the scan reacts to, the comma and the end (the literal's closing NUL).
using UnitTable = std::array<bool, 128>;
template <std::size_t N>
constexpr UnitTable TableOf(const char (&units)[N]) {
  UnitTable table{};
  for (char unit : units) table[static_cast<unsigned char>(unit)] = true;
  return table;
}
constexpr UnitTable kSpecialInArray = TableOf("\t\n\r \"',[\\]{");
constexpr UnitTable kSpecialInObject = TableOf("\t\n\r \"',[\\{}:");

bool IsDigit(char16_t c) noexcept { return static_cast<unsigned>(c - u'0') <= 9u; }

bool IsPlainInArray(char16_t c) noexcept { return c >= 128 || !kSpecialInArray[c]; }
bool IsPlainInObject(char16_t c) noexcept { return c >= 128 || !kSpecialInObject[c]; }

class Parser {
 public:
  Parser(Node* root, std::u16string_view text, bool decode) noexcept
      : root_(root), heap_(root->heap_), text_(text.data()), length_(text.size()), decode_(decode) {}
  ~Parser() {
    if (stack_ != nullptr) heap_->Deallocate(stack_, capacity_ * sizeof(StackEntry));
    if (children_ != nullptr) heap_->Deallocate(children_, childCapacity_ * sizeof(Node*));
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  ParseError Run(std::int32_t* errorPosition) noexcept;

 private:
  ParseError Open(JsonKind kind) noexcept;
  ParseError Continue() noexcept;
  // Plainly written elements and members ("key": value) are read one after the other by these,
  // up to the closing bracket, a container (opened here) or anything else, which they leave to
  // the general scan of ContinueArray and ContinueObject: true when the step is over (its result
  // in *result), false when the general scan takes over at i_.
  bool ReadPlainElements(bool* chained, ParseError* result) noexcept;
  bool ReadPlainMembers(std::size_t entry, bool* chained, ParseError* result) noexcept;
  // At a plain container value: opens it (true). After a plain value (i_ at the comma or `close`):
  // closes the container (true) or steps past the comma (false).
  bool OpenPlain(bool* chained, ParseError* result) noexcept;
  bool ClosePlain(char16_t close, bool* chained, ParseError* result) noexcept;
  // One step inside the innermost container. `chained` is set when the step ended by opening or
  // closing a container on the fast path, with i_ at its bracket: Continue then goes on itself.
  ParseError ContinueArray(std::size_t entry, bool* chained) noexcept;
  ParseError ContinueObject(std::size_t entry, bool* chained) noexcept;
  // `escaped`: the token holds a backslash (the scan saw one).
  ParseError Store(std::size_t tokenStart, std::size_t tokenLength, Node* container, bool escaped) noexcept;
  // The fast path for the common, plainly written value: a number, a keyword or a quoted text
  // without escapes, at i_, followed (after blanks) by a comma or `close`. It stores the value as
  // Store would (with the pending key when `keyed`), leaves i_ at the comma or `close` and returns
  // true; *result tells whether memory ran out. False, with nothing changed, for anything else:
  // the general scan then reads it.
  bool StorePlain(char16_t close, bool keyed, ParseError* result) noexcept;
  // SkipBlanks for the common case of no blank at all, and of a newline with indentation.
  std::size_t SkipBlanksHere(std::size_t i) const noexcept {
    if (!IsBlank(text_[i])) return i;
    if (!IsBlank(text_[i + 1])) return i + 1;
    i = SkipSpaces(text_, length_, i + 2);  // indentation is mostly spaces
    return IsBlank(text_[i]) ? SkipBlanks(i + 1) : i;
  }
  ParseError StoreTopLevel(std::size_t tokenStart, std::size_t tokenLength) noexcept;

  bool Push(Node* node, State state) noexcept;
  // Closes the innermost container: its waiting children join it.
  ParseError Pop() noexcept;
  // A new child of the innermost container (with the pending key when that is an object) waits
  // on the child stack; the node is freed when it cannot.
  ParseError AddChild(Node* child, bool keyed) noexcept;
  void DiscardWaitingChildren() noexcept;
  // Steps over a backslash escape: 6 units for \u, else 2, never past the terminating NUL.
  std::size_t EscapeStep() const noexcept {
    const std::size_t wanted = text_[i_ + 1] == u'u' ? 6 : 2;
    std::size_t step = 1;
    while (step < wanted && text_[i_ + step] != 0) ++step;
    return step;
  }
  // The position of the next unit that ends a run of ordinary units: inside quotes the quote
  // itself, a backslash or the end; outside them any unit the array scan treats specially.
  std::size_t SkipBlanks(std::size_t i) const noexcept {
    return ScanRun<false>(text_, length_, i, [](char16_t c) { return !IsBlank(c); }, u' ', u'\n', u'\r', u'\t');
  }
  std::size_t SkipQuoted(std::size_t i, char16_t quote) const noexcept {
    return ScanRun<true>(text_, length_, i, [quote](char16_t c) { return c == quote || c == u'\\' || c == 0; },
                         quote, u'\\', char16_t{0});
  }
  std::size_t SkipPlain(std::size_t i) const noexcept {
    i = SkipNumberUnits(i);
    while (IsPlainInArray(text_[i])) ++i;
    return i;
  }
  std::size_t SkipQuotedInObject(std::size_t i) const noexcept {
    return ScanRun<true>(text_, length_, i, [](char16_t c) { return IsQuote(c) || c == u'\\' || c == 0; },
                         u'"', u'\'', u'\\', char16_t{0});
  }
  std::size_t SkipPlainInObject(std::size_t i) const noexcept {
    i = SkipNumberUnits(i);
    while (IsPlainInObject(text_[i])) ++i;
    return i;
  }
  std::size_t SkipNumberUnits(std::size_t i) const noexcept { return SkipNumberBlocks(text_, length_, i); }
  // The pending key, unescaped (by UnescapedKey) when it holds a backslash.
  bool PendingKey(std::u16string_view* key) noexcept {
    if (keyEscaped_) return UnescapedKey(key);
    *key = std::u16string_view(text_ + keyStart_, keyLength_);
    return true;
  }
  bool UnescapedKey(std::u16string_view* key) noexcept;
  // A token or key, unescaped, in the scratch buffer.
  bool UnescapedCopy(std::u16string_view source) noexcept;

  Node* root_;
  NodeHeap* heap_;
  const char16_t* text_;
  std::size_t length_;  // units before the NUL that follows the text (the scan stops at any NUL)
  bool decode_;
  std::size_t i_ = 0;
  std::ptrdiff_t keyStart_ = -1;  // the pending key: start and length
  std::size_t keyLength_ = 0;
  bool keyEscaped_ = false;  // the pending key holds a backslash
  StackEntry* stack_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
  Node** children_ = nullptr;  // children of open containers, innermost last; owned here
  std::size_t childCount_ = 0;
  std::size_t childCapacity_ = 0;
  std::u16string scratch_;
};

ParseError Parser::Run(std::int32_t* errorPosition) noexcept {
  // One lease for the whole parse: every node of the tree comes from the root's heap.
  NodeHeap::Lease lease(heap_);
  stack_ = static_cast<StackEntry*>(heap_->Allocate(kFirstStackCapacity * sizeof(StackEntry)));
  if (stack_ == nullptr) return ParseError::NoMemory;
  capacity_ = kFirstStackCapacity;
  children_ = static_cast<Node**>(heap_->Allocate(kFirstChildCapacity * sizeof(Node*)));
  if (children_ == nullptr) return ParseError::NoMemory;
  childCapacity_ = kFirstChildCapacity;
  EmptyInPlace(root_);

  ParseError result = ParseError::None;
  for (;;) {
    // Indentation comes in runs: skipped eight units at a time.
    i_ = SkipBlanksHere(i_);
    const char16_t c = text_[i_];
    if (c == 0) {  // the end: i_ is L + 1 after it
      ++i_;
      break;
    }
    if (c == u'{') {
      result = Open(JsonKind::Object);
    } else if (c == u'[') {
      result = Open(JsonKind::Array);
    } else {
      result = Continue();
    }
    if (result != ParseError::None) break;
    if (text_[i_] == 0) {  // the step read up to the end
      ++i_;
      break;
    }
    ++i_;
  }
  if (result == ParseError::None && count_ != 0) result = ParseError::Unclosed;
  if (result != ParseError::None) {
    DiscardWaitingChildren();
    EmptyInPlace(root_);
    if (errorPosition != nullptr) {
      *errorPosition = static_cast<std::int32_t>(std::min<std::size_t>(i_, std::numeric_limits<std::int32_t>::max()));
    }
  }
  return result;
}

bool Parser::Push(Node* node, State state) noexcept {
  if (count_ == capacity_) {
    const std::size_t capacity = capacity_ * 2;
    auto* grown = static_cast<StackEntry*>(heap_->Allocate(capacity * sizeof(StackEntry)));
    if (grown == nullptr) return false;
    std::memcpy(grown, stack_, count_ * sizeof(StackEntry));
    heap_->Deallocate(stack_, capacity_ * sizeof(StackEntry));
    stack_ = grown;
    capacity_ = capacity;
  }
  stack_[count_++] = StackEntry{node, state, childCount_};
  return true;
}

[[gnu::always_inline]] inline ParseError Parser::AddChild(Node* child, bool keyed) noexcept {
  std::u16string_view key;
  if (keyed && (!PendingKey(&key) || !SetChildKey(child, key))) {
    DiscardChild(child);
    return ParseError::NoMemory;
  }
  if (childCount_ == childCapacity_) {
    const std::size_t capacity = childCapacity_ * 2;
    auto* grown = static_cast<Node**>(heap_->Allocate(capacity * sizeof(Node*)));
    if (grown == nullptr) {
      DiscardChild(child);
      return ParseError::NoMemory;
    }
    std::memcpy(grown, children_, childCount_ * sizeof(Node*));
    heap_->Deallocate(children_, childCapacity_ * sizeof(Node*));
    children_ = grown;
    childCapacity_ = capacity;
  }
  children_[childCount_++] = child;
  return ParseError::None;
}

ParseError Parser::Pop() noexcept {
  const StackEntry& entry = stack_[count_ - 1];
  Node* const* children = children_ + entry.firstChild;
  const auto count = static_cast<std::int32_t>(childCount_ - entry.firstChild);
  if (entry.node == root_) {
    // The root may hold what earlier top-level containers left ({"a":1}{"b":2}): stored one by one.
    const std::int32_t stored = AdoptInto(root_, children, count);
    if (stored < count) {
      std::memmove(children_ + entry.firstChild, children + stored, static_cast<std::size_t>(count - stored) * sizeof(Node*));
      childCount_ -= static_cast<std::size_t>(stored);
      return ParseError::NoMemory;
    }
  } else {
    const bool adopted = entry.node->Is(JsonKind::Array) ? AdoptChildren(entry.node, children, count)
                                                         : AdoptMembers(entry.node, children, count);
    if (!adopted) return ParseError::NoMemory;
  }
  childCount_ = entry.firstChild;
  --count_;
  if (count_ > 0) stack_[count_ - 1].state = State::AfterChild;
  return ParseError::None;
}

void Parser::DiscardWaitingChildren() noexcept {
  for (std::size_t k = 0; k < childCount_; ++k) DiscardChild(children_[k]);
  childCount_ = 0;
}

ParseError Parser::Open(JsonKind kind) noexcept {
  const State state = kind == JsonKind::Object ? State::ExpectKey : State::ExpectValue;
  if (count_ == 0) {
    // A top-level container of the root's own kind keeps the root's content: {"a":1}{"b":2}
    // merges, [1][2] concatenates.
    const bool converted = kind == JsonKind::Object ? MakeObject(root_) : MakeArray(root_);
    if (!converted || !Push(root_, state)) return ParseError::NoMemory;
    return ParseError::None;
  }
  const StackEntry top = stack_[count_ - 1];
  if (top.state != State::ExpectValue) return ParseError::BadObject;
  const bool intoArray = top.node->Is(JsonKind::Array);
  if (!intoArray && (keyStart_ < 0 || keyLength_ == 0)) return ParseError::BadObject;
  Node* child = NewChildContainer(heap_, kind);
  if (child == nullptr) return ParseError::NoMemory;
  if (const ParseError added = AddChild(child, !intoArray); added != ParseError::None) return added;
  return Push(child, state) ? ParseError::None : ParseError::NoMemory;
}

ParseError Parser::Continue() noexcept {
  if (count_ == 0) {
    // A top-level scalar: the rest of the text, trailing blanks included.
    const std::size_t start = i_;
    std::size_t end = start;
    while (text_[end] != 0) ++end;
    i_ = end;
    return StoreTopLevel(start, end - start);
  }
  for (;;) {
    const std::size_t entry = count_ - 1;
    bool chained = false;
    const ParseError result =
        stack_[entry].node->Is(JsonKind::Array) ? ContinueArray(entry, &chained) : ContinueObject(entry, &chained);
    if (result != ParseError::None || !chained) return result;
    // What Run does after a step, done here while it only opens containers.
    for (;;) {
      if (count_ == 0) return ParseError::None;  // the top-level container closed: Run goes on
      i_ = SkipBlanksHere(i_ + 1);
      const char16_t c = text_[i_];
      if (c == 0) return ParseError::None;
      if (c != u'{' && c != u'[') break;
      if (const ParseError opened = Open(c == u'{' ? JsonKind::Object : JsonKind::Array); opened != ParseError::None) {
        return opened;
      }
    }
  }
}

[[gnu::always_inline]] inline bool Parser::OpenPlain(bool* chained, ParseError* result) noexcept {
  const char16_t c = text_[i_];
  if (c != u'{' && c != u'[') return false;
  *chained = true;
  *result = Open(c == u'{' ? JsonKind::Object : JsonKind::Array);
  return true;
}

[[gnu::always_inline]] inline bool Parser::ClosePlain(char16_t close, bool* chained, ParseError* result) noexcept {
  if (text_[i_] != close) {
    ++i_;  // past the comma
    return false;
  }
  *chained = true;
  *result = Pop();
  return true;
}

[[gnu::always_inline]] inline bool Parser::ReadPlainElements(bool* chained, ParseError* result) noexcept {
  for (;;) {
    i_ = SkipBlanksHere(i_);
    if (text_[i_] == 0) return true;  // the end: Run reports the open container
    if (OpenPlain(chained, result)) return true;
    if (!StorePlain(u']', false, result)) return false;
    if (*result != ParseError::None || ClosePlain(u']', chained, result)) return true;
  }
}

[[gnu::always_inline]] inline bool Parser::ReadPlainMembers(std::size_t entry, bool* chained, ParseError* result) noexcept {
  for (;;) {
    const std::size_t memberStart = i_;
    const std::size_t keyQuote = SkipBlanksHere(i_);
    if (text_[keyQuote] == 0) {  // the end: Run reports the open container
      i_ = keyQuote;
      return true;
    }
    if (text_[keyQuote] != u'"') return false;
    const std::size_t keyEnd = SkipQuoted(keyQuote + 1, u'"');
    if (text_[keyEnd] != u'"' || keyEnd == keyQuote + 1) return false;
    const std::size_t colon = SkipBlanksHere(keyEnd + 1);
    if (text_[colon] != u':') return false;
    keyStart_ = static_cast<std::ptrdiff_t>(keyQuote + 1);
    keyLength_ = keyEnd - keyQuote - 1;
    keyEscaped_ = false;
    i_ = SkipBlanksHere(colon + 1);
    stack_[entry].state = State::ExpectValue;  // for a container value, which Open checks
    if (OpenPlain(chained, result)) return true;
    stack_[entry].state = State::ExpectKey;
    if (!StorePlain(u'}', true, result)) {
      i_ = memberStart;
      keyStart_ = -1;
      keyLength_ = 0;
      return false;
    }
    if (*result != ParseError::None || ClosePlain(u'}', chained, result)) return true;
  }
}

ParseError Parser::ContinueArray(std::size_t entry, bool* chained) noexcept {
  Node* array = stack_[entry].node;
  if (stack_[entry].state == State::AfterChild) {
    stack_[entry].state = State::ExpectValue;
    if (text_[i_] == u',') ++i_;  // the comma after a container element
  }
  if (stack_[entry].state != State::ExpectValue) return ParseError::BadValue;

  if (ParseError result = ParseError::None; ReadPlainElements(chained, &result)) return result;

  std::size_t tokenStart = i_;
  std::size_t length = 0;
  char16_t quote = 0;
  bool escaped = false;
  for (char16_t c; (c = text_[i_]) != 0;) {
    if (quote != 0) {
      if (c == u'\\') {
        escaped = true;
        const std::size_t step = EscapeStep();
        i_ += step;
        length += step;
        continue;
      }
      if (c == quote) {
        quote = 0;
        ++i_;
        ++length;
        continue;
      }
      const std::size_t from = i_;
      i_ = SkipQuoted(i_ + 1, quote);
      length += i_ - from;
      continue;
    }
    switch (c) {
      case u' ':
      case u'\t':
      case u'\r':
      case u'\n':
        ++i_;
        if (length == 0) tokenStart = i_;
        continue;
      case u'"':
      case u'\'':
        quote = c;
        ++i_;
        ++length;
        continue;
      case u'\\': {
        escaped = true;
        const std::size_t step = EscapeStep();
        i_ += step;
        length += step;
        continue;
      }
      case u'{':
      case u'[':
        if (length != 0) {
          i_ = tokenStart;
          return ParseError::BadValue;
        }
        return Open(c == u'{' ? JsonKind::Object : JsonKind::Array);
      case u']':
        // The token before the bracket is the array's last element: stored before it closes.
        if (length != 0) {
          if (const ParseError stored = Store(tokenStart, length, array, escaped); stored != ParseError::None) {
            return stored;
          }
        }
        return Pop();
      case u',':
        break;
      default: {
        const std::size_t from = i_;
        i_ = SkipPlain(i_ + 1);
        length += i_ - from;
        continue;
      }
    }
    break;
  }
  if (quote != 0) {
    i_ = tokenStart;
    return ParseError::BadValue;
  }
  if (length == 0) return ParseError::None;
  return Store(tokenStart, length, array, escaped);
}

ParseError Parser::ContinueObject(std::size_t entry, bool* chained) noexcept {
  Node* object = stack_[entry].node;
  if (stack_[entry].state == State::AfterChild) {
    stack_[entry].state = State::ExpectKey;
    if (text_[i_] == u',') ++i_;  // the comma after a container member
  }
  if (stack_[entry].state != State::ExpectKey) return ParseError::BadObject;

  if (ParseError result = ParseError::None; ReadPlainMembers(entry, chained, &result)) return result;

  keyStart_ = static_cast<std::ptrdiff_t>(i_);
  keyLength_ = 0;
  keyEscaped_ = false;
  bool escaped = false;
  std::size_t tokenStart = 0;
  std::size_t length = 0;
  char16_t quote = 0;
  bool keyClosed = false;
  bool closing = false;  // the object's closing brace ended the token
  bool inKey = true;  // the entry's state is ExpectKey (else ExpectValue)
  for (char16_t c; (c = text_[i_]) != 0;) {
    if (IsQuote(c)) {
      if (quote != 0) {
        if (c == quote) {
          quote = 0;
          if (inKey) {
            keyClosed = true;
          } else {
            ++length;
          }
        } else {
          ++(inKey ? keyLength_ : length);
        }
        ++i_;
        continue;
      }
      quote = c;
      ++i_;
      if (!inKey) {
        ++length;
      } else if (keyLength_ == 0) {
        keyStart_ = static_cast<std::ptrdiff_t>(i_);  // the key's text begins after the quote
      } else {
        return ParseError::BadObject;  // {ab"c":1}, {"a" "b":1}
      }
      continue;
    }
    if (c == u'\\') {
      (inKey ? keyEscaped_ : escaped) = true;
      const std::size_t step = EscapeStep();
      i_ += step;
      (inKey ? keyLength_ : length) += step;
      continue;
    }
    if (quote == 0) {
      if (IsBlank(c)) {
        ++i_;
        if (inKey && keyLength_ == 0) keyStart_ = static_cast<std::ptrdiff_t>(i_);
        if (!inKey && length == 0) tokenStart = i_;
        continue;
      }
      if (c == u':' && inKey) {
        if (keyLength_ == 0) return ParseError::BadObject;  // {"":1}
        ++i_;
        tokenStart = i_;
        length = 0;
        inKey = false;
        stack_[entry].state = State::ExpectValue;
        continue;
      }
      if (c == u'{' || c == u'[') {
        if (length != 0) {
          i_ = tokenStart;
          return ParseError::BadValue;
        }
        return Open(c == u'{' ? JsonKind::Object : JsonKind::Array);
      }
      if (c == u'}') {
        if (keyLength_ == 0) return Pop();  // {} or a trailing comma
        closing = true;  // the last member is stored before the object closes
        break;
      }
      if (c == u',') break;
    }
    if (inKey && keyClosed) return ParseError::BadObject;
    const std::size_t from = i_;
    i_ = quote != 0 ? SkipQuotedInObject(i_ + 1) : SkipPlainInObject(i_ + 1);
    (inKey ? keyLength_ : length) += i_ - from;
  }
  if (keyLength_ == 0 && length != 0) {
    i_ = static_cast<std::size_t>(keyStart_);
    return ParseError::BadObject;
  }
  if (keyLength_ != 0 && length == 0) {  // {"a":} or {"a"}
    i_ = tokenStart;
    return ParseError::BadValue;
  }
  stack_[entry].state = State::ExpectKey;
  const ParseError stored = Store(tokenStart, length, object, escaped);
  return stored == ParseError::None && closing ? Pop() : stored;
}

bool Parser::UnescapedCopy(std::u16string_view source) noexcept {
  try {
    scratch_.assign(source);
  } catch (const std::bad_alloc&) {
    return false;
  }
  scratch_.resize(Unescape(scratch_.data(), scratch_.size(), decode_));
  return true;
}

bool Parser::UnescapedKey(std::u16string_view* key) noexcept {
  if (!UnescapedCopy(std::u16string_view(text_ + keyStart_, keyLength_))) return false;
  std::u16string_view unescaped(scratch_);
  *key = unescaped.substr(0, std::min(unescaped.find(u'\0'), unescaped.size()));
  return true;
}

// What a token stands for, and its value for scalars.
struct Scalar {
  JsonKind kind = JsonKind::Raw;  // Raw: not a value
  double real = 0;
  std::int64_t integer = 0;
  std::u16string_view text;  // string value or text form
};

// A token read as a value: a quoted string (unescaped into `scratch` when needed), a keyword
// or a number. A real is only classified unless `convertReal`: a parsed Real node reads its
// value from its text form when asked (see JsonNode::RealValue).
bool ReadToken(std::u16string_view token, bool escaped, bool decode, bool convertReal, std::u16string& scratch,
               Scalar* scalar) {
  const char16_t first = token.front();
  if (IsQuote(first)) {
    if (token.back() != first) return false;
    scalar->kind = JsonKind::String;
    std::u16string_view unescaped = token;
    if (escaped) {
      scratch.assign(token);
      scratch.resize(Unescape(scratch.data(), scratch.size(), decode));
      unescaped = scratch;
    }
    // The text between the first and the last unit; a lone quote gives the empty text.
    std::u16string_view value = unescaped.size() >= 2 ? unescaped.substr(1, unescaped.size() - 2) : std::u16string_view();
    // Only a decoded \u0000 can put a NUL into it: the text ends there.
    if (escaped && decode) value = value.substr(0, std::min(value.find(u'\0'), value.size()));
    scalar->text = value;
    return true;
  }
  scalar->text = token;
  constexpr std::u16string_view kNull = u"null", kTrue = u"true", kFalse = u"false";
  if (token == kNull) {
    scalar->kind = JsonKind::Null;
  } else if (token == kTrue || token == kFalse) {
    scalar->kind = JsonKind::Boolean;
    scalar->integer = token == kTrue ? 1 : 0;
  } else {
    switch (ReadNumber(token, &scalar->integer, convertReal ? &scalar->real : nullptr)) {
      case NumberClass::Integer:
        scalar->kind = JsonKind::Integer;
        break;
      case NumberClass::Real:
        scalar->kind = JsonKind::Real;
        break;
      case NumberClass::NotANumber:
        return false;
    }
  }
  return true;
}

ParseError Parser::Store(std::size_t tokenStart, std::size_t tokenLength, Node* container, bool escaped) noexcept {
  const std::u16string_view token(text_ + tokenStart, tokenLength);
  Scalar scalar;
  try {
    if (tokenLength == 0 || !ReadToken(token, escaped, decode_, false, scratch_, &scalar)) {
      i_ = tokenStart;
      return ParseError::BadValue;
    }
  } catch (const std::bad_alloc&) {
    i_ = tokenStart;
    return ParseError::NoMemory;
  }
  Node* node = NewChildScalar(heap_, scalar.kind, scalar.text);
  if (node == nullptr) {
    i_ = tokenStart;
    return ParseError::NoMemory;
  }
  if (scalar.kind == JsonKind::Real) {
    node->flags_ |= Node::kRealFromText;  // its text form is the token itself
  } else if (scalar.kind == JsonKind::Integer) {
    node->StoreValue(Node::Value{.integer = scalar.integer});
  } else if (scalar.kind == JsonKind::Boolean) {
    node->value_.boolean = static_cast<std::int32_t>(scalar.integer);
  }
  const bool keyed = container->Is(JsonKind::Object);
  if (AddChild(node, keyed) != ParseError::None) {
    i_ = tokenStart;
    return ParseError::NoMemory;
  }
  if (keyed) {
    keyStart_ = -1;
    keyLength_ = 0;
  }
  return ParseError::None;
}

[[gnu::always_inline]] inline bool Parser::StorePlain(char16_t close, bool keyed, ParseError* result) noexcept {
  const std::size_t start = i_;
  const char16_t first = text_[start];
  std::size_t end = start;  // one past the token
  JsonKind kind = JsonKind::Raw;
  std::u16string_view text;  // the string's text, or the token
  std::int64_t integer = 0;
  if (first == u'"') {
    const std::size_t closing = SkipQuoted(start + 1, u'"');
    if (text_[closing] != u'"') return false;  // an escape, or no closing quote
    kind = JsonKind::String;
    text = std::u16string_view(text_ + start + 1, closing - start - 1);
    end = closing + 1;
  } else if (IsDigit(first) || first == u'-') {
    const NumberClass number = ScanNumberRun(text_, length_, start, &end, &integer);
    text = std::u16string_view(text_ + start, end - start);
    switch (number) {
      case NumberClass::Integer:
        kind = JsonKind::Integer;
        break;
      case NumberClass::Real:
        kind = JsonKind::Real;
        break;
      case NumberClass::NotANumber:
        return false;
    }
  } else {
    // The keywords; a mismatch (the closing NUL included) stops the comparison.
    const std::u16string_view keyword = first == u'n' ? u"null" : (first == u't' ? u"true" : u"false");
    if (first != u'n' && first != u't' && first != u'f') return false;
    for (const char16_t unit : keyword) {
      if (text_[end] != unit) return false;
      ++end;
    }
    kind = first == u'n' ? JsonKind::Null : JsonKind::Boolean;
    integer = first == u't' ? 1 : 0;
    text = keyword;
  }
  const std::size_t next = SkipBlanksHere(end);
  if (text_[next] != u',' && text_[next] != close) return false;

  *result = ParseError::NoMemory;
  Node* node = NewChildScalar(heap_, kind, text);
  if (node == nullptr) return true;
  if (kind == JsonKind::Real) {
    node->flags_ |= Node::kRealFromText;  // its text form is the token itself
  } else if (kind == JsonKind::Integer) {
    node->StoreValue(Node::Value{.integer = integer});
  } else if (kind == JsonKind::Boolean) {
    node->value_.boolean = static_cast<std::int32_t>(integer);
  }
  if (AddChild(node, keyed) != ParseError::None) return true;
  if (keyed) {
    keyStart_ = -1;
    keyLength_ = 0;
  }
  *result = ParseError::None;
  i_ = next;
  return true;
}

ParseError Parser::StoreTopLevel(std::size_t tokenStart, std::size_t tokenLength) noexcept {
  const std::u16string_view token(text_ + tokenStart, tokenLength);
  Scalar scalar;
  bool stored = false;
  try {
    if (!ReadToken(token, token.find(u'\\') != std::u16string_view::npos, decode_, true, scratch_, &scalar)) {
      i_ = tokenStart;
      return ParseError::BadValue;
    }
    switch (scalar.kind) {
      case JsonKind::Null:
        stored = SetNull(root_);
        break;
      case JsonKind::Boolean:
        stored = SetBool(root_, scalar.integer != 0);
        break;
      case JsonKind::Real:
        stored = SetReal(root_, scalar.real, scalar.text);
        break;
      case JsonKind::Integer:
        stored = SetInteger(root_, scalar.integer, scalar.text);
        break;
      default:
        stored = SetString(root_, scalar.text);
        break;
    }
  } catch (const std::bad_alloc&) {
    stored = false;
  }
  if (!stored) {
    i_ = tokenStart;
    return ParseError::NoMemory;
  }
  return ParseError::None;
}

}  // namespace

ParseError ParseIntoNode(Node* root, std::u16string_view text, bool decodeUnicodeEscapes,
                         std::int32_t* errorPosition) noexcept {
  if (errorPosition != nullptr) *errorPosition = 0;
  if (root == nullptr || text.data() == nullptr || text.data()[0] == 0) return ParseError::NoInput;
  Parser parser(root, text, decodeUnicodeEscapes);
  return parser.Run(errorPosition);
}

}  // namespace velmora::json
