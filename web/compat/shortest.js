// The shortest decimal text that reads back to a double, from the JavaScript
// engine (Number.prototype.toString: the fewest digits, and of those the
// nearest to the value), for web/compat/cxx20_compat.hpp's to_chars. Writes
// at most size bytes at out and returns the text's length.
mergeInto(LibraryManager.library, {
  talvo_js_shortest: function (value, out, size) {
    var text = String(value);
    stringToUTF8(text, out, size);
    return lengthBytesUTF8(text);
  },
});
