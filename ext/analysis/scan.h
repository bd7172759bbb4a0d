// Words of running text as the analyzer's default pattern finds them, each with its prepared bytes.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstring>

#include "unicode_tables.h"

namespace lexvale {

// A few code points of a language's rules, given by the package's table of them.
struct CodeSet {
    static constexpr int capacity = 16;
    std::uint32_t codes[capacity];
    int count;

    bool has(std::uint32_t code) const noexcept {
        for (int i = 0; i < count; ++i) {
            if (codes[i] == code) {
                return true;
            }
        }
        return false;
    }
};

// How the words of a text are prepared: what the analyzer's settings and the
// language's rules (lexvale/_rules.py, handed over when the pass is made) ask for.
struct Preparing {
    bool lowercase;
    bool normal_form;      // any: the typographic apostrophe is "'"
    bool dotted_i;         // I is ı, İ is i
    std::uint16_t unsure;  // char_nfc_unsure or char_nfkc_unsure, or 0 without a normal form
    std::uint16_t harmless;  // char_nfc_harmless or char_nfkc_harmless, or 0
    CodeSet kept_joiners;      // joiners written inside words
    CodeSet mutation_letters;  // before one of mutated_vowels at a word's start: a hyphen between
    CodeSet mutated_vowels;
};

// The prepared bytes of the word being read; words longer than the inline
// space (rare) move to the heap.
class KeyBuffer {
public:
    KeyBuffer() noexcept = default;
    KeyBuffer(const KeyBuffer&) = delete;
    KeyBuffer& operator=(const KeyBuffer&) = delete;
    ~KeyBuffer() {
        if (data_ != inline_) {
            PyMem_Free(data_);
        }
    }

    void clear() noexcept {
        size_ = 0;
        unsure_ = false;
        span_unsure_ = false;
    }
    const char* data() const noexcept { return data_; }

    // Set for a word whose lower case may have joined a mark the text wrote
    // after a capital (such as "J" and a caron): it stands only if it is in
    // the normal form, as the pure-Python path's next round would leave it.
    bool unsure() const noexcept { return unsure_; }
    void set_unsure() noexcept { unsure_ = true; }

    // Set for a word that holds a character which may be outside the normal
    // form: it stands only if the text's own span of it is in the normal form.
    bool span_unsure() const noexcept { return span_unsure_; }
    void set_span_unsure() noexcept { span_unsure_ = true; }
    Py_ssize_t size() const noexcept { return static_cast<Py_ssize_t>(size_); }

    bool put_ascii(char byte) noexcept {
        if (size_ == capacity_ && !grow()) {
            return false;
        }
        data_[size_++] = byte;
        return true;
    }

    // Appends the UTF-8 bytes of `code`; false (MemoryError) when memory runs out.
    bool put(std::uint32_t code) noexcept {
        if (size_ + 4 > capacity_ && !grow()) {
            return false;
        }
        char* out = data_ + size_;
        if (code < 0x80) {
            out[0] = static_cast<char>(code);
            size_ += 1;
        } else if (code < 0x800) {
            out[0] = static_cast<char>(0xC0 | (code >> 6));
            out[1] = static_cast<char>(0x80 | (code & 0x3F));
            size_ += 2;
        } else if (code < 0x10000) {
            out[0] = static_cast<char>(0xE0 | (code >> 12));
            out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out[2] = static_cast<char>(0x80 | (code & 0x3F));
            size_ += 3;
        } else {
            out[0] = static_cast<char>(0xF0 | (code >> 18));
            out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out[3] = static_cast<char>(0x80 | (code & 0x3F));
            size_ += 4;
        }
        return true;
    }

private:
    bool grow() noexcept {
        std::size_t capacity = 2 * capacity_;
        char* bigger = static_cast<char*>(data_ == inline_ ? PyMem_Malloc(capacity) : PyMem_Realloc(data_, capacity));
        if (bigger == nullptr) {
            PyErr_NoMemory();
            return false;
        }
        if (data_ == inline_) {
            std::memcpy(bigger, inline_, size_);
        }
        data_ = bigger;
        capacity_ = capacity;
        return true;
    }

    char inline_[256];
    bool unsure_ = false;
    bool span_unsure_ = false;
    char* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = sizeof(inline_);
};

enum class Scan { done, python, error };

inline constexpr std::uint32_t typographic_apostrophe = 0x2019;
inline constexpr std::uint32_t capital_dotted_i = 0x130;
inline constexpr std::uint32_t combining_dot_above = 0x307;
inline constexpr std::uint32_t small_dotless_i = 0x131;
inline constexpr std::uint32_t capital_sigma = 0x3A3;

// The class bits of the Latin-1 characters, at hand for the most common text.
struct Latin1Bits {
    std::uint16_t bits[256];
    constexpr Latin1Bits() : bits() {
        for (std::uint32_t code = 0; code < 256; ++code) {
            bits[code] = char_record(code).bits;
        }
    }
};
inline constexpr Latin1Bits latin1_bits;

inline std::uint16_t bits_of(std::uint32_t code) noexcept {
    return code < 256 ? latin1_bits.bits[code] : char_record(code).bits;
}

inline bool is_kept_joiner(const Preparing& how, std::uint32_t code) noexcept {
    return how.kept_joiners.has(code);
}

// Whether the native pass prepares a non-ASCII character exactly as the
// pure-Python path does: not one to drop, nor one whose lower case needs
// context or more than one character (Scan::python). `confirm_normal` is set
// when it may be outside the normal form, for the interpreter to confirm;
// `harmless` names the characters that the normal form only makes into
// separators, which in running text change no word.
inline Scan inspect_char(std::uint32_t code, std::uint16_t bits, const Preparing& how, std::uint16_t harmless,
                         bool& confirm_normal) noexcept {
    if (bits & (char_surrogate | char_ignorable)) {
        return Scan::python;
    }
    if ((bits & char_joiner) && !is_kept_joiner(how, code)) {
        return Scan::python;
    }
    if (how.lowercase) {
        if ((bits & char_special) && code != capital_dotted_i) {
            return Scan::python;
        }
        if (how.dotted_i && code == combining_dot_above) {
            return Scan::python;
        }
    }
    if ((bits & how.unsure) && !(bits & harmless)) {
        confirm_normal = true;
    }
    return Scan::done;
}

// inspect_char over all of `data`: `running` for running text, where
// separators are harmless; otherwise a word taken whole.
template <typename Char>
Scan check_text(const Char* data, Py_ssize_t length, const Preparing& how, bool running,
                bool& confirm_normal) noexcept {
    std::uint16_t harmless = running ? how.harmless : 0;
    for (Py_ssize_t i = 0; i < length; ++i) {
        std::uint32_t code = data[i];
        if (code >= 0x80 && inspect_char(code, char_record(code).bits, how, harmless, confirm_normal) == Scan::python) {
            return Scan::python;
        }
    }
    return Scan::done;
}

// Appends the prepared bytes of data[start:end], a word (or what is taken as
// one): the typographic apostrophe made "'", and lower case as the language
// writes it. With `inspect`, each character is inspected as it goes
// (inspect_char, in running text), and a word that holds one which may be
// outside the normal form is marked for the caller to confirm (a word's
// normal form does not depend on the separators around it); without, the
// caller has checked them all.
// Scan::python when a character needs the pure-Python path. A word whose
// lower case may leave the normal form (an upper-case letter before a
// combining mark that its lower case may join, such as "J" and a caron) is
// marked unsure, for the caller to confirm.
template <typename Char>
Scan prepare_span(const Char* data, Py_ssize_t start, Py_ssize_t end, const Preparing& how, KeyBuffer& key,
                  bool inspect = false) noexcept {
    bool changed = false;
    bool marked = false;
    bool maybe_not_normal = false;
    Py_ssize_t k = start;
    std::uint32_t first = start < end ? data[start] : 0;
    if (how.lowercase && how.mutation_letters.count != 0 && end - start >= 2 && how.mutation_letters.has(first) &&
        how.mutated_vowels.has(data[start + 1])) {
        if (!key.put(first) || !key.put('-')) {
            return Scan::error;
        }
        k = start + 1;
    }
    for (; k < end; ++k) {
        std::uint32_t code = data[k];
        if (code < 0x80 && !(how.dotted_i && code == 'I')) {
            // ASCII: lower case by one bit, one byte of UTF-8.
            std::uint32_t lowered = how.lowercase && code - 'A' < 26 ? code | 0x20 : code;
            changed = changed || lowered != code;
            if (!key.put_ascii(static_cast<char>(lowered))) {
                return Scan::error;
            }
            continue;
        }
        if (inspect && code >= 0x80 &&
            inspect_char(code, char_record(code).bits, how, how.harmless, maybe_not_normal) == Scan::python) {
            return Scan::python;
        }
        std::uint32_t out = code;
        if (code == '\'' || (how.normal_form && code == typographic_apostrophe)) {
            out = '\'';
        } else if (how.lowercase) {
            if (code < 0x80) {
                if (code - 'A' < 26) {
                    out = how.dotted_i && code == 'I' ? small_dotless_i : code | 0x20;
                }
            } else if (code == capital_dotted_i) {
                // Unicode's default lower case is "i" and a combining dot above.
                out = 'i';
                if (!how.dotted_i) {
                    if (!key.put(out)) {
                        return Scan::error;
                    }
                    out = combining_dot_above;
                }
            } else {
                const CharRecord& record = char_record(code);
                if (record.lower != 0) {
                    out = record.lower;
                }
                marked = marked || (record.bits & char_mark);
            }
            changed = changed || out != code;
        }
        if (!key.put(out)) {
            return Scan::error;
        }
    }
    // A mark the text wrote after a letter whose lower case may join it.
    if (changed && marked && how.unsure != 0) {
        key.set_unsure();
    }
    if (maybe_not_normal) {
        key.set_span_unsure();
    }
    return Scan::done;
}

// Appends the bytes of data[start:end] as they are; false (MemoryError) when memory runs out.
template <typename Char>
bool copy_span(const Char* data, Py_ssize_t start, Py_ssize_t end, KeyBuffer& key) noexcept {
    for (Py_ssize_t k = start; k < end; ++k) {
        if (!key.put(data[k])) {
            return false;
        }
    }
    return true;
}

// Whether `data` holds a lone surrogate, which no UTF-8 encodes.
template <typename Char>
bool has_surrogate(const Char* data, Py_ssize_t length) noexcept {
    if constexpr (sizeof(Char) == 1) {
        return false;
    } else {
        for (Py_ssize_t i = 0; i < length; ++i) {
            if (data[i] >= 0xD800 && data[i] <= 0xDFFF) {
                return true;
            }
        }
        return false;
    }
}

// Reads the words of `data` and calls `word(start, end, key)` for each, in
// order, with its prepared bytes in `key`; `word` returns false to stop with
// an error set. With `prepare_now`, `data` is the text as given: every
// character is inspected (inspect_char: Scan::python; `confirm_normal` set
// by one between words, for the caller to have the whole text confirmed
// before it trusts the words; a word marked by prepare_span, for the
// caller to confirm the word) and each word is prepared here. Otherwise
// `data` is text the pure-Python path prepared.
template <typename Char, typename OnWord>
Scan scan_words(const Char* data, Py_ssize_t length, const Preparing& how, bool prepare_now, KeyBuffer& key,
                bool& confirm_normal, OnWord&& word) noexcept {
    auto apostrophe = [&](std::uint32_t code) { return code == '\'' || (how.normal_form && code == typographic_apostrophe); };
    auto inside = [&](std::uint32_t code) { return (bits_of(code) & (char_mark | char_joiner)) != 0; };
    auto is_word = [&](Py_ssize_t i) { return i < length && (bits_of(data[i]) & char_word); };
    auto is_digit = [&](Py_ssize_t i) { return i >= 0 && i < length && (bits_of(data[i]) & char_digit); };

    Py_ssize_t i = 0;
    while (i < length) {
        std::uint32_t first = data[i];
        std::uint16_t first_bits = bits_of(first);
        Py_ssize_t start = i;
        if (first_bits & char_word) {
            // Runs joined by apostrophes: run ('run)*, where a run is
            // word characters with marks and digit-joining points inside.
            for (;;) {
                while (is_word(i)) {
                    ++i;
                }
                for (;;) {
                    if (i < length && inside(data[i])) {
                        while (i < length && inside(data[i])) {
                            ++i;
                        }
                    } else if (i < length && (bits_of(data[i]) & char_digit_separator) && is_digit(i - 1) && is_digit(i + 1)) {
                        ++i;
                    } else {
                        break;
                    }
                    while (is_word(i)) {
                        ++i;
                    }
                }
                if (i + 1 < length && apostrophe(data[i]) && is_word(i + 1)) {
                    ++i;
                    continue;
                }
                break;
            }
        } else if (first_bits & char_single) {
            ++i;
            while (i < length && (bits_of(data[i]) & char_mark)) {
                ++i;
            }
        } else {
            if (prepare_now && first >= 0x80 &&
                inspect_char(first, first_bits, how, how.harmless, confirm_normal) == Scan::python) {
                return Scan::python;
            }
            ++i;
            continue;
        }

        key.clear();
        if (prepare_now) {
            Scan prepared = prepare_span(data, start, i, how, key, true);
            if (prepared != Scan::done) {
                return prepared;
            }
        } else if (!copy_span(data, start, i, key)) {
            return Scan::error;
        }
        if (!word(start, i, key)) {
            return Scan::error;
        }
    }
    return Scan::done;
}

// At least as many as the words scan_words finds in `data`: every word
// starts with a Han or Hiragana character, or with a letter or digit that
// no letter or digit comes right before.
template <typename Char>
Py_ssize_t most_words(const Char* data, Py_ssize_t length) noexcept {
    Py_ssize_t count = 0;
    bool after_word = false;
    for (Py_ssize_t i = 0; i < length; ++i) {
        std::uint16_t bits = bits_of(data[i]);
        count += (bits & char_single) || ((bits & char_word) && !after_word);
        after_word = (bits & char_word) != 0;
    }
    return count;
}

}  // namespace lexvale
