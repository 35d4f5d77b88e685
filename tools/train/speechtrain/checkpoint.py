"""Writes the model as a checkpoint folder in the common public layout:
config.json and model.safetensors with "model.encoder.*" / "model.decoder.*"
tensor names, 16-bit floats."""

import json
import os
import struct

import numpy as np
import torch

from . import vocabulary

_LAYER_NAMES = [
    ("attn_ln.", "self_attn_layer_norm."), ("attn.query.", "self_attn.q_proj."),
    ("attn.key.", "self_attn.k_proj."), ("attn.value.", "self_attn.v_proj."),
    ("attn.out.", "self_attn.out_proj."), ("cross_attn_ln.", "encoder_attn_layer_norm."),
    ("cross_attn.query.", "encoder_attn.q_proj."), ("cross_attn.key.", "encoder_attn.k_proj."),
    ("cross_attn.value.", "encoder_attn.v_proj."), ("cross_attn.out.", "encoder_attn.out_proj."),
    ("mlp_ln.", "final_layer_norm."), ("mlp.0.", "fc1."), ("mlp.2.", "fc2."),
]
_TOP_NAMES = {
    "encoder.conv1.weight": "encoder.conv1.weight", "encoder.conv1.bias": "encoder.conv1.bias",
    "encoder.conv2.weight": "encoder.conv2.weight", "encoder.conv2.bias": "encoder.conv2.bias",
    "encoder.positional_embedding": "encoder.embed_positions.weight",
    "encoder.ln_post.weight": "encoder.layer_norm.weight",
    "encoder.ln_post.bias": "encoder.layer_norm.bias",
    "decoder.token_embedding.weight": "decoder.embed_tokens.weight",
    "decoder.positional_embedding": "decoder.embed_positions.weight",
    "decoder.ln.weight": "decoder.layer_norm.weight", "decoder.ln.bias": "decoder.layer_norm.bias",
}


def public_name(name):
    """Our parameter name -> the checkpoint's, without the leading "model."."""
    if name in _TOP_NAMES:
        return _TOP_NAMES[name]
    side, _, rest = name.partition(".")
    if rest.startswith("layers."):
        number, _, tail = rest[len("layers."):].partition(".")
        for ours, theirs in _LAYER_NAMES:
            if tail.startswith(ours):
                return "%s.layers.%s.%s%s" % (side, number, theirs, tail[len(ours):])
    raise KeyError(name)


def write_safetensors(path, tensors, metadata=None):
    """tensors: {name: numpy array (float16 or float32)}."""
    header, offset, blobs = {}, 0, []
    for name in sorted(tensors):
        array = np.ascontiguousarray(tensors[name])
        dtype = {np.dtype(np.float16): "F16", np.dtype(np.float32): "F32"}[array.dtype]
        data = array.astype(array.dtype.newbyteorder("<")).tobytes()
        header[name] = {"dtype": dtype, "shape": list(array.shape),
                        "data_offsets": [offset, offset + len(data)]}
        blobs.append(data)
        offset += len(data)
    if metadata:
        header["__metadata__"] = metadata
    text = json.dumps(header, separators=(",", ":")).encode("utf-8")
    text += b" " * (-len(text) % 8)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(struct.pack("<Q", len(text)))
        f.write(text)
        for blob in blobs:
            f.write(blob)
    os.replace(tmp, path)


def read_safetensors(path):
    with open(path, "rb") as f:
        size = struct.unpack("<Q", f.read(8))[0]
        header = json.loads(f.read(size))
        data = f.read()
    out = {}
    for name, entry in header.items():
        if name == "__metadata__":
            continue
        dtype = {"F16": np.float16, "F32": np.float32}[entry["dtype"]]
        begin, end = entry["data_offsets"]
        out[name] = np.frombuffer(data[begin:end], dtype=dtype).reshape(entry["shape"])
    return out


def config(dims):
    return {
        "architectures": ["WhisperForConditionalGeneration"],
        "model_type": "whisper",
        "activation_function": "gelu",
        "num_mel_bins": dims.n_mels,
        "d_model": dims.n_state,
        "encoder_layers": dims.n_audio_layer,
        "encoder_attention_heads": dims.n_head,
        "encoder_ffn_dim": 4 * dims.n_state,
        "decoder_layers": dims.n_text_layer,
        "decoder_attention_heads": dims.n_head,
        "decoder_ffn_dim": 4 * dims.n_state,
        "vocab_size": dims.n_vocab,
        "max_source_positions": dims.n_audio_ctx,
        "max_target_positions": dims.n_text_ctx,
        "scale_embedding": False,
        "tie_word_embeddings": True,
        "torch_dtype": "float16",
        "bos_token_id": vocabulary.END_OF_TEXT,
        "eos_token_id": vocabulary.END_OF_TEXT,
        "pad_token_id": vocabulary.END_OF_TEXT,
        "decoder_start_token_id": vocabulary.START_OF_TRANSCRIPT,
    }


def export(model, folder, dtype=np.float16):
    """Writes folder/config.json and folder/model.safetensors."""
    os.makedirs(folder, exist_ok=True)
    tensors = {}
    state = model.state_dict()
    for name, value in state.items():
        if name in ("active", "lookup", "rest", "ctc_lookup") or name.startswith("ctc.") or \
                name.endswith(".mask") or name == "decoder.mask":
            continue
        if name == "decoder.token_embedding.weight":
            value = model.full_embedding()
        tensors["model." + public_name(name)] = value.detach().float().numpy().astype(dtype)
    write_safetensors(os.path.join(folder, "model.safetensors"), tensors,
                      {"format": "pt"})
    with open(os.path.join(folder, "config.json"), "w") as f:
        json.dump(config(model.dims), f, indent=2)
        f.write("\n")


def load_exported(model, folder):
    """Loads an exported folder's weights (as float32) into a model built
    without the shared-row training head."""
    tensors = read_safetensors(os.path.join(folder, "model.safetensors"))
    by_public = {"model." + public_name(name): name for name in model.state_dict()
                 if not name.endswith("mask")}
    state = {by_public[k]: torch.from_numpy(v.astype(np.float32)) for k, v in tensors.items()}
    missing = set(by_public.values()) - set(state)
    if missing:
        raise KeyError("checkpoint lacks %s" % sorted(missing))
    model.load_state_dict(state, strict=False)
    return model
