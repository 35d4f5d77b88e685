"""The Whisper network: a convolutional front end and a transformer encoder
over 30-second log-mel windows, and a transformer decoder that writes tokens
while attending to the encoder's output.

Pre-norm residual blocks, sinusoidal encoder positions, learned decoder
positions, exact GELU, and an output projection tied to the token embedding.

Training computes the output distribution over the whole vocabulary without
projecting onto every row: the tokens the data never uses share one trained
embedding row (`rest`), so their logits are equal and the softmax over the full
vocabulary needs that logit once, counted `rest_count` times. The exported
embedding writes `rest` into every unused row, which gives the engine exactly
the distribution the model was trained on.
"""

import math

import torch
import torch.nn.functional as F
from torch import nn

# This PyTorch build's oneDNN convolution returns wrong weight gradients (at
# times zeros, at times values of 1e17 that end in NaN weights) when the
# gradient reaching it is not contiguous, as the encoder's transpose after the
# second convolution makes it. The native convolution is exact and fast enough
# for the two small convolutions of the front end.
torch.backends.mkldnn.enabled = False


CTC_LETTERS = " абвгдежзийклмнопрстуфхцчшщъыьэюя"


def ctc_labels(text):
    """The CTC head's labels of a text: its letters in lower case (ё as е),
    one blank between words, punctuation left out."""
    words = "".join(c if c.isalpha() else " " for c in text.lower().replace("ё", "е")).split()
    return [CTC_LETTERS.index(c) + 1 for c in " ".join(words) if c in CTC_LETTERS]


class Dimensions:
    def __init__(self, n_mels=80, n_audio_ctx=1500, n_state=256, n_head=4, n_audio_layer=4,
                 n_text_layer=4, n_vocab=51865, n_text_ctx=448):
        self.n_mels = n_mels
        self.n_audio_ctx = n_audio_ctx
        self.n_state = n_state
        self.n_head = n_head
        self.n_audio_layer = n_audio_layer
        self.n_text_layer = n_text_layer
        self.n_vocab = n_vocab
        self.n_text_ctx = n_text_ctx

    def as_dict(self):
        return dict(self.__dict__)


def sinusoids(length, channels, max_timescale=10000):
    """Whisper's fixed position table: sines in the first half, cosines in the second."""
    increment = math.log(max_timescale) / (channels // 2 - 1)
    inv = torch.exp(-increment * torch.arange(channels // 2, dtype=torch.float64))
    scaled = torch.arange(length, dtype=torch.float64)[:, None] * inv[None, :]
    return torch.cat([torch.sin(scaled), torch.cos(scaled)], dim=1).float()


class _Softmax(torch.autograd.Function):
    """softmax over the last axis as exp(log_softmax): this PyTorch build's
    own softmax kernel is many times slower than its log_softmax."""

    @staticmethod
    def forward(ctx, x):
        y = torch.exp(torch.log_softmax(x, dim=-1))
        ctx.save_for_backward(y)
        return y

    @staticmethod
    def backward(ctx, grad):
        (y,) = ctx.saved_tensors
        return y * (grad - (grad * y).sum(dim=-1, keepdim=True))


def attention(q, k, v, mask=None):
    """softmax(q k^T / sqrt(d_head) + mask) v over [b, h, t, d_head] tensors.

    One head at a time through F.linear: on this PyTorch build batched matrix
    products run several times slower than plain ones handed to the
    multithreaded BLAS, and the encoder's 1500 x 1500 scores dominate training.
    """
    b, h, t, dh = q.shape
    q = q * (1.0 / math.sqrt(dh))
    outs = []
    for i in range(b):
        for j in range(h):
            scores = F.linear(q[i, j], k[i, j])
            if mask is not None:
                scores = scores + mask
            outs.append(F.linear(_Softmax.apply(scores), v[i, j].t()))
    return torch.stack(outs).view(b, h, t, v.shape[-1])


class MultiHeadAttention(nn.Module):
    def __init__(self, n_state, n_head):
        super().__init__()
        self.n_head = n_head
        self.query = nn.Linear(n_state, n_state)
        self.key = nn.Linear(n_state, n_state, bias=False)
        self.value = nn.Linear(n_state, n_state)
        self.out = nn.Linear(n_state, n_state)

    def split(self, x):
        b, t, d = x.shape
        return x.view(b, t, self.n_head, d // self.n_head).transpose(1, 2)

    def forward(self, x, source=None, mask=None, kv=None):
        """x: [b, t, d]; source: the encoder output for cross-attention;
        mask: additive [t, s]; kv: precomputed (keys, values) of the source."""
        q = self.split(self.query(x))
        if kv is None:
            src = x if source is None else source
            k, v = self.split(self.key(src)), self.split(self.value(src))
        else:
            k, v = kv
        y = attention(q, k, v, mask).transpose(1, 2).reshape(x.shape)
        return self.out(y)

    def keys_values(self, source):
        return self.split(self.key(source)), self.split(self.value(source))


class ResidualBlock(nn.Module):
    def __init__(self, n_state, n_head, cross_attention=False):
        super().__init__()
        self.attn = MultiHeadAttention(n_state, n_head)
        self.attn_ln = nn.LayerNorm(n_state)
        self.cross_attn = MultiHeadAttention(n_state, n_head) if cross_attention else None
        self.cross_attn_ln = nn.LayerNorm(n_state) if cross_attention else None
        self.mlp = nn.Sequential(nn.Linear(n_state, 4 * n_state), nn.GELU(),
                                 nn.Linear(4 * n_state, n_state))
        self.mlp_ln = nn.LayerNorm(n_state)

    def forward(self, x, source=None, mask=None, cross_kv=None):
        x = x + self.attn(self.attn_ln(x), mask=mask)
        if self.cross_attn is not None:
            x = x + self.cross_attn(self.cross_attn_ln(x), source=source, kv=cross_kv)
        return x + self.mlp(self.mlp_ln(x))


class AudioEncoder(nn.Module):
    def __init__(self, dims):
        super().__init__()
        self.conv1 = nn.Conv1d(dims.n_mels, dims.n_state, kernel_size=3, padding=1)
        self.conv2 = nn.Conv1d(dims.n_state, dims.n_state, kernel_size=3, stride=2, padding=1)
        self.register_buffer("positional_embedding", sinusoids(dims.n_audio_ctx, dims.n_state))
        self.layers = nn.ModuleList(
            [ResidualBlock(dims.n_state, dims.n_head) for _ in range(dims.n_audio_layer)])
        self.ln_post = nn.LayerNorm(dims.n_state)

    def forward(self, mel):
        """mel: [b, n_mels, 3000] -> [b, 1500, d]. Training may feed the
        first frames of a window only (an even number)."""
        x = F.gelu(self.conv1(mel))
        x = F.gelu(self.conv2(x)).transpose(1, 2)
        x = x + self.positional_embedding[:x.shape[1]]
        for layer in self.layers:
            x = layer(x)
        return self.ln_post(x)


class TextDecoder(nn.Module):
    def __init__(self, dims):
        super().__init__()
        self.token_embedding = nn.Embedding(dims.n_vocab, dims.n_state)
        self.positional_embedding = nn.Parameter(torch.empty(dims.n_text_ctx, dims.n_state))
        self.layers = nn.ModuleList([
            ResidualBlock(dims.n_state, dims.n_head, cross_attention=True)
            for _ in range(dims.n_text_layer)])
        self.ln = nn.LayerNorm(dims.n_state)
        mask = torch.full((dims.n_text_ctx, dims.n_text_ctx), float("-inf")).triu_(1)
        self.register_buffer("mask", mask, persistent=False)
        nn.init.normal_(self.token_embedding.weight, std=0.02)
        nn.init.normal_(self.positional_embedding, std=0.01)

    def hidden(self, tokens, audio, offset=0, cross_kv=None):
        """tokens: [b, t] -> final normalised states [b, t, d]."""
        t = tokens.shape[1]
        x = self.token_embedding(tokens) + self.positional_embedding[offset:offset + t]
        mask = self.mask[offset:offset + t, :offset + t] if offset == 0 else None
        for i, layer in enumerate(self.layers):
            x = layer(x, source=audio, mask=mask,
                      cross_kv=None if cross_kv is None else cross_kv[i])
        return self.ln(x)

    def logits(self, hidden):
        return hidden @ self.token_embedding.weight.t()


class Whisper(nn.Module):
    def __init__(self, dims, active_tokens=None):
        """active_tokens: the ids the data uses (inputs and outputs); the others
        share the `rest` row. None trains every row."""
        super().__init__()
        self.dims = dims
        self.encoder = AudioEncoder(dims)
        self.decoder = TextDecoder(dims)
        if active_tokens is not None:
            active = torch.tensor(sorted(set(active_tokens)), dtype=torch.long)
            self.register_buffer("active", active)
            lookup = torch.full((dims.n_vocab,), -1, dtype=torch.long)
            lookup[active] = torch.arange(len(active))
            self.register_buffer("lookup", lookup)
            self.rest = nn.Parameter(torch.zeros(dims.n_state))
            self.rest_count = dims.n_vocab - len(active)
            # Training-only alignment head: a CTC projection of the encoder's
            # output onto letters (index 0 is the blank). It makes the encoder
            # learn to hear sounds early, long before the decoder's attention
            # would on its own; letters, few and short, leave the blank-only
            # plateau far sooner than sub-word tokens. Not exported.
            self.ctc = nn.Linear(dims.n_state, len(CTC_LETTERS) + 1)
        else:
            self.active = None

    def training_loss(self, mel, tokens, targets, ctc_texts=None):
        """Mean cross-entropy over the target positions (targets < 0 are
        ignored), and the encoder's CTC loss over `ctc_texts` (one text per
        row, None for a row without a complete transcript) when given."""
        audio = self.encoder(mel)
        h = self.decoder.hidden(tokens, audio)
        mask = targets >= 0
        h = h[mask]
        target = targets[mask]
        if self.active is None:
            return F.cross_entropy(self.decoder.logits(h), target)
        weight = self.decoder.token_embedding.weight[self.active]
        logits = h @ weight.t()
        rest = (h @ self.rest + math.log(self.rest_count)).unsqueeze(1)
        log_norm = torch.logsumexp(torch.cat([logits, rest], dim=1), dim=1)
        picked = logits.gather(1, self.lookup[target].unsqueeze(1)).squeeze(1)
        loss = (log_norm - picked).mean()
        if ctc_texts is None:
            return loss, torch.zeros(())
        rows = [i for i, text in enumerate(ctc_texts) if text is not None]
        if not rows:
            return loss, torch.zeros(())
        log_probs = torch.log_softmax(self.ctc(audio[rows]), dim=-1).transpose(0, 1)
        labels = [torch.tensor(ctc_labels(ctc_texts[i]), dtype=torch.long) for i in rows]
        lengths = torch.tensor([len(x) for x in labels], dtype=torch.long)
        flat = torch.cat(labels) if labels else torch.zeros(0, dtype=torch.long)
        frames = torch.full((len(rows),), log_probs.shape[0], dtype=torch.long)
        ctc = F.ctc_loss(log_probs, flat, frames, lengths, blank=0, reduction="sum",
                         zero_infinity=True) / max(1, int(lengths.sum()))
        return loss, ctc

    def full_embedding(self):
        """The token embedding as exported: unused rows hold the shared row."""
        weight = self.decoder.token_embedding.weight.detach().clone()
        if self.active is not None:
            unused = torch.ones(self.dims.n_vocab, dtype=torch.bool)
            unused[self.active] = False
            weight[unused] = self.rest.detach()
        return weight
