// The seven fields of a node's attributes, in field order: the order in
// which the writer lays out the members and in which the array form lists
// its elements. The reader, the writer and the encoder's checks all derive
// from this table, so a field is added or renamed here alone.
//
//   key        the attribute's name in JavaScript and in the node text
//   pythonKey  its name in the Python module's dictionaries
//   kind       "text" (a string), "size" (a float32 number), "colour" (an
//              integer 0..255) or "flag" (true or false)

/** @type {ReadonlyArray<{ key: string, pythonKey: string, kind: string }>} */
export const NODE_FIELDS = Object.freeze(
  [
    ["label", "label", "text"],
    ["size", "size", "size"],
    ["url", "url", "text"],
    ["red", "red", "colour"],
    ["green", "green", "colour"],
    ["blue", "blue", "colour"],
    ["showLabel", "show_label", "flag"],
  ].map(([key, pythonKey, kind]) => Object.freeze({ key, pythonKey, kind })),
);

/** The keys in field order, which is also the element order of the array form. */
export const NODE_TEXT_KEYS = Object.freeze(NODE_FIELDS.map((field) => field.key));

// The table as the fast reader and writer of the writer's layout are
// written for. Should the table change, they take nothing until they are
// brought in line, and the general reader and writer do all the work (the
// tests, which count what the fast ones take, say so).
const FAST_LAYOUT = [
  "label text",
  "size size",
  "url text",
  "red colour",
  "green colour",
  "blue colour",
  "showLabel flag",
];

/** Whether the fast reader and writer may run. */
export const FAST_LAYOUT_HOLDS =
  NODE_FIELDS.length === FAST_LAYOUT.length &&
  NODE_FIELDS.every(({ key, kind }, field) => `${key} ${kind}` === FAST_LAYOUT[field]);

/** One bit per field in field order, for the fast reader's and writer's sets of fields. */
export const LABEL = 1;
export const SIZE = 2;
export const URL = 4;
export const RED = 8;
export const GREEN = 16;
export const BLUE = 32;
export const SHOW_LABEL = 64;
