// The sizes of the byte form's fields, in bytes, named once for the
// decoder, the encoder and the tests. Every number is little-endian.

/** A count or a length: an unsigned 64-bit integer. */
export const COUNT_SIZE = 8;
/** An id's own bytes. */
export const ID_LENGTH = 16;
/** An id as it is written: its length (always 16) as a count, then its bytes. */
export const ID_FIELD_SIZE = COUNT_SIZE + ID_LENGTH;
/** An edge weight: a binary32 float. */
export const WEIGHT_SIZE = 4;
/** One new or updated edge's target: its id field and its weight. */
export const TARGET_ENTRY_SIZE = ID_FIELD_SIZE + WEIGHT_SIZE;
/**
 * What opens a node (its id and its text's length) or an edge group (the
 * source id and its target count).
 */
export const GROUP_HEADER_SIZE = ID_FIELD_SIZE + COUNT_SIZE;
/** The empty diff: the four sections' counts, each zero. */
export const EMPTY_DIFF_SIZE = 4 * COUNT_SIZE;
