"""The multilingual Whisper vocabulary: byte-level BPE ranks from the rank
file, the special tokens in their standard layout, and the tokenizer folder
(tokenizer.json, tokenizer_config.json) the engine reads.

Rank order is merge order: a token of rank r is the merge of the two parts
that byte-pair encoding of its own bytes, using only ranks below r, ends with.
"""

import base64
import json
import os
import re

TEXT_TOKENS = 50257
LANGUAGES = [
    "en", "zh", "de", "es", "ru", "ko", "fr", "ja", "pt", "tr", "pl", "ca", "nl", "ar", "sv",
    "it", "id", "hi", "fi", "vi", "he", "uk", "el", "ms", "cs", "ro", "da", "hu", "ta", "no",
    "th", "ur", "hr", "bg", "lt", "la", "mi", "ml", "cy", "sk", "te", "fa", "lv", "bn", "sr",
    "az", "sl", "kn", "et", "mk", "br", "eu", "is", "hy", "ne", "mn", "bs", "kk", "sq", "sw",
    "gl", "mr", "pa", "si", "km", "sn", "yo", "so", "af", "oc", "ka", "be", "tg", "sd", "gu",
    "am", "yi", "lo", "uz", "fo", "ht", "ps", "tk", "nn", "mt", "sa", "lb", "my", "bo", "tl",
    "mg", "as", "tt", "haw", "ln", "ha", "ba", "jw", "su"]
TIMESTAMPS = 1501  # <|0.00|> .. <|30.00|> in steps of 0.02 s


def special_tokens():
    """[(text, id)] of every special token, in id order."""
    names = ["<|endoftext|>", "<|startoftranscript|>"]
    names += ["<|%s|>" % code for code in LANGUAGES]
    names += ["<|translate|>", "<|transcribe|>", "<|startoflm|>", "<|startofprev|>",
              "<|nospeech|>", "<|notimestamps|>"]
    names += ["<|%.2f|>" % (i * 0.02) for i in range(TIMESTAMPS)]
    return [(name, TEXT_TOKENS + i) for i, name in enumerate(names)]


SPECIAL = dict(special_tokens())
END_OF_TEXT = SPECIAL["<|endoftext|>"]
START_OF_TRANSCRIPT = SPECIAL["<|startoftranscript|>"]
RUSSIAN = SPECIAL["<|ru|>"]
TRANSCRIBE = SPECIAL["<|transcribe|>"]
NO_TIMESTAMPS = SPECIAL["<|notimestamps|>"]
TIMESTAMP_BEGIN = SPECIAL["<|0.00|>"]
VOCABULARY_SIZE = TIMESTAMP_BEGIN + TIMESTAMPS  # 51865


def byte_symbols():
    """Byte -> its printable character in the byte-level alphabet."""
    symbols = {}
    extra = 0x100
    for b in range(256):
        if 33 <= b <= 126 or 161 <= b <= 172 or b >= 174:
            symbols[b] = chr(b)
        else:
            symbols[b] = chr(extra)
            extra += 1
    return symbols


def load_ranks(path):
    """bytes -> rank, from lines of "base64 rank"."""
    ranks = {}
    with open(path, "rb") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            token, rank = line.split()
            ranks[base64.b64decode(token)] = int(rank)
    if sorted(ranks.values()) != list(range(TEXT_TOKENS)):
        raise ValueError("%s: expected ranks 0..%d" % (path, TEXT_TOKENS - 1))
    return ranks


def _bpe(ranks, data, max_rank=None):
    """Byte-pair encoding of `data`: repeatedly join the adjacent pair whose
    join has the lowest rank (below max_rank when given)."""
    parts = [bytes([b]) for b in data]
    while len(parts) > 1:
        best, best_rank = None, None
        for i in range(len(parts) - 1):
            rank = ranks.get(parts[i] + parts[i + 1])
            if rank is not None and (max_rank is None or rank < max_rank) and \
                    (best_rank is None or rank < best_rank):
                best, best_rank = i, rank
        if best is None:
            break
        parts[best:best + 2] = [parts[best] + parts[best + 1]]
    return parts


def merges(ranks):
    """The merge list in rank order, as pairs of byte strings."""
    out = []
    for token, rank in sorted(ranks.items(), key=lambda item: item[1]):
        if len(token) < 2:
            continue
        parts = _bpe(ranks, token, max_rank=rank)
        if len(parts) != 2:
            raise ValueError("token of rank %d is not the merge of two tokens" % rank)
        out.append((parts[0], parts[1]))
    return out


# The byte-level pre-tokenizer's split, for text of letters, digits,
# punctuation and spaces ([^\W\d_] is a Unicode letter).
_PIECES = re.compile(
    r"""'s|'t|'re|'ve|'m|'ll|'d| ?[^\W\d_]+| ?\d+| ?[^\s\w]+|\s+(?!\S)|\s+""")


class Encoder:
    def __init__(self, ranks):
        self.ranks = ranks
        self.by_id = {rank: token for token, rank in ranks.items()}
        self.cache = {}

    def encode(self, text):
        ids = []
        for piece in _PIECES.findall(text):
            cached = self.cache.get(piece)
            if cached is None:
                cached = [self.ranks[p] for p in _bpe(self.ranks, piece.encode("utf-8"))]
                self.cache[piece] = cached
            ids.extend(cached)
        return ids

    def decode(self, ids):
        return b"".join(self.by_id[i] for i in ids if i < TEXT_TOKENS).decode("utf-8", "replace")


def _added_token(text, token_id):
    return {"id": token_id, "content": text, "single_word": False, "lstrip": False,
            "rstrip": False, "normalized": False, "special": True}


def write_tokenizer_folder(ranks, folder):
    """Writes tokenizer.json and tokenizer_config.json into `folder`."""
    symbols = byte_symbols()

    def text(token):
        return "".join(symbols[b] for b in token)

    vocab = {text(token): rank for token, rank in sorted(ranks.items(), key=lambda i: i[1])}
    merge_list = ["%s %s" % (text(a), text(b)) for a, b in merges(ranks)]
    specials = special_tokens()
    sot, notimestamps, eot = "<|startoftranscript|>", "<|notimestamps|>", "<|endoftext|>"

    def special(name, type_id=0):
        return {"SpecialToken": {"id": name, "type_id": type_id}}

    document = {
        "version": "1.0",
        "truncation": None,
        "padding": None,
        "added_tokens": [_added_token(name, token_id) for name, token_id in specials],
        "normalizer": None,
        "pre_tokenizer": {"type": "ByteLevel", "add_prefix_space": False, "trim_offsets": True,
                          "use_regex": True},
        "post_processor": {
            "type": "TemplateProcessing",
            "single": [special(sot), special(notimestamps),
                       {"Sequence": {"id": "A", "type_id": 0}}, special(eot)],
            "pair": [special(sot), special(notimestamps),
                     {"Sequence": {"id": "A", "type_id": 0}},
                     {"Sequence": {"id": "B", "type_id": 1}}, special(eot, 1)],
            "special_tokens": {
                name: {"id": name, "ids": [SPECIAL[name]], "tokens": [name]}
                for name in (sot, notimestamps, eot)},
        },
        "decoder": {"type": "ByteLevel", "add_prefix_space": True, "trim_offsets": True,
                    "use_regex": True},
        "model": {"type": "BPE", "dropout": None, "unk_token": None,
                  "continuing_subword_prefix": "", "end_of_word_suffix": "",
                  "fuse_unk": False, "byte_fallback": False, "vocab": vocab,
                  "merges": merge_list},
    }
    config = {
        "add_bos_token": False,
        "add_prefix_space": False,
        "added_tokens_decoder": {
            str(token_id): {"content": name, "lstrip": False, "normalized": False,
                            "rstrip": False, "single_word": False, "special": True}
            for name, token_id in specials},
        "additional_special_tokens": [name for name, _ in specials[:SPECIAL["<|notimestamps|>"]
                                                                   - TEXT_TOKENS + 1]],
        "bos_token": eot,
        "clean_up_tokenization_spaces": True,
        "eos_token": eot,
        "errors": "replace",
        "model_max_length": 1024,
        "pad_token": eot,
        "tokenizer_class": "WhisperTokenizer",
        "unk_token": eot,
    }
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "tokenizer.json"), "w", encoding="utf-8") as f:
        json.dump(document, f, ensure_ascii=False, separators=(",", ":"))
        f.write("\n")
    with open(os.path.join(folder, "tokenizer_config.json"), "w", encoding="utf-8") as f:
        json.dump(config, f, ensure_ascii=False, indent=2)
        f.write("\n")
