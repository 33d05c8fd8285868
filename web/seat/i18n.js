// The seat's own texts in the lab's language. The English text is the key;
// a catalogue (from the lab's po/seat/LANG.po, served as JSON) maps it to
// the translation, and a text without one stays English. Placeholders are
// written {name} and filled from params.

let catalogue = {};

export function setCatalogue(entries) {
  catalogue = entries && typeof entries === "object" ? entries : {};
}

export function t(english, params = {}) {
  const found = catalogue[english];
  const text = typeof found === "string" && found !== "" ? found : english;
  return text.replace(/\{([a-z_]+)\}/g, (whole, name) =>
    Object.prototype.hasOwnProperty.call(params, name) ? String(params[name]) : whole,
  );
}

// Marks a text for the catalogue where it is defined as a constant; it is
// translated where it is shown, with t(CONSTANT).
export function N_(english) {
  return english;
}
