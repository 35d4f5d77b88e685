"""The training loop: batches of composed windows, AdamW with warm-up and
cosine decay, time-based checkpoints that a later run resumes from. Every
batch is a function of (seed, step), so a resumed run sees the same data as
an uninterrupted one."""

import math
import os
import time

import numpy as np
import torch

from . import checkpoint, data, vocabulary
from .features import MelFrontEnd
from .model import Dimensions, Whisper


def active_tokens(corpus_tokens, encoder, words):
    """Every id the data can use: the sentences' tokens, each vocabulary word
    with and without a capital and a leading blank, the punctuation marks,
    the prompt and control tokens and every timestamp."""
    active = set(vocabulary.SPECIAL[name] for name in (
        "<|endoftext|>", "<|startoftranscript|>", "<|ru|>", "<|transcribe|>",
        "<|notimestamps|>"))
    active |= set(range(vocabulary.TIMESTAMP_BEGIN, vocabulary.VOCABULARY_SIZE))
    for tokens in corpus_tokens:
        active |= set(tokens)
    for word in words:
        for form in (word, " " + word, word.capitalize(), " " + word.capitalize()):
            active |= set(encoder.encode(form))
    for mark in (".", ",", "?", "!", " .", " ,"):
        active |= set(encoder.encode(mark))
    return sorted(active)


def make_batch(maker, front_end, first, count, short=False):
    encoder = maker.corpus.encoder
    windows, sequences = [], []
    for number in range(first, first + count):
        window, tokens = maker.window(number, short)
        windows.append(window)
        sequences.append(tokens)
    mel = front_end(torch.from_numpy(np.stack(windows)))
    if short:
        mel = mel[:, :, :int(data.SHORT_SECONDS * 100)]
    # The encoder's CTC transcript of a row: its text tokens, when every
    # sentence of the window is complete (an odd count of timestamps means
    # the last one is only a start, its sentence cut at the window's edge).
    texts = []
    for tokens in sequences:
        after = tokens[len(data.PROMPT):]
        stamps = sum(t >= vocabulary.TIMESTAMP_BEGIN for t in after)
        texts.append(None if stamps % 2 else
                     encoder.decode([t for t in after if t < vocabulary.END_OF_TEXT]))
    length = max(len(s) for s in sequences) - 1
    inputs = torch.full((count, length), vocabulary.END_OF_TEXT, dtype=torch.long)
    targets = torch.full((count, length), -1, dtype=torch.long)
    prompt = len(data.PROMPT)
    for row, tokens in enumerate(sequences):
        n = len(tokens) - 1
        inputs[row, :n] = torch.tensor(tokens[:-1])
        targets[row, prompt:n] = torch.tensor(tokens[prompt + 1:])
    return mel, inputs, targets, texts


def learning_rate(step, total, peak, warmup):
    if step < warmup:
        return peak * (step + 1) / warmup
    progress = min(1.0, (step - warmup) / max(1, total - warmup))
    return peak * (0.05 + 0.95 * 0.5 * (1.0 + math.cos(math.pi * progress)))


def train(args, corpus, encoder, words, log=print):
    """Trains with args.workers single-threaded processes, each on its share
    of every batch, averaging gradients once per step. A step's work is one
    barrier per step rather than one per matrix product, which keeps a busy
    shared machine from stalling every thread of the step."""
    import torch.multiprocessing as mp
    active = active_tokens(corpus.tokens, encoder, words)
    if args.batch % args.workers:
        raise ValueError("--batch must be a multiple of --workers")
    port = 29500 + os.getpid() % 1000
    queue = mp.get_context("spawn").SimpleQueue()
    context = mp.spawn(_worker, args=(args, active, port, queue), nprocs=args.workers,
                       join=False)
    while True:
        message = queue.get()
        if message is None:
            break
        log(message)
    context.join()


def _worker(rank, args, active, port, queue):
    import torch.distributed as dist
    import speechtrain
    speechtrain.keep_freed_memory()
    torch.set_num_threads(1)
    if args.cpus:
        os.sched_setaffinity(0, args.cpus)
    dist.init_process_group("gloo", init_method="tcp://127.0.0.1:%d" % port, rank=rank,
                            world_size=args.workers)
    encoder = vocabulary.Encoder(vocabulary.load_ranks(args.ranks))
    corpus = data.Corpus(os.path.join(args.work, "corpus"), encoder)
    log = queue.put if rank == 0 else (lambda message: None)
    try:
        _train(rank, args, active, corpus, log)
    finally:
        if rank == 0:
            queue.put(None)
        dist.destroy_process_group()


def _train(rank, args, active, corpus, log):
    import torch.distributed as dist
    torch.manual_seed(args.seed)
    dims = Dimensions(n_state=args.width, n_head=args.heads, n_audio_layer=args.encoder_layers,
                      n_text_layer=args.decoder_layers)
    model = Whisper(dims, active)
    decay, no_decay = [], []
    for name, parameter in model.named_parameters():
        (no_decay if parameter.ndim < 2 or "embedding" in name else decay).append(parameter)
    optimizer = torch.optim.AdamW([{"params": decay, "weight_decay": 0.01},
                                   {"params": no_decay, "weight_decay": 0.0}],
                                  lr=args.learning_rate, betas=(0.9, 0.98), eps=1e-6)
    state_path = os.path.join(args.work, "training-state.pt")
    step = 0
    warm_from = 0
    if os.path.exists(state_path):
        state = torch.load(state_path)
        step = state["step"]
        own = model.state_dict()
        changed = [name for name, value in state["model"].items()
                   if name not in own or own[name].shape != value.shape]
        if changed:
            # A state saved with another training-only head: keep the
            # network's weights, start that head and the optimizer afresh,
            # and warm the learning rate up again.
            model.load_state_dict({k: v for k, v in state["model"].items() if k not in changed},
                                  strict=False)
            warm_from = step
            log("resumed at step %d with a new %s" % (step, ", ".join(changed)))
        else:
            model.load_state_dict(state["model"])
            optimizer.load_state_dict(state["optimizer"])
            log("resumed at step %d" % step)

    def save():
        if rank != 0:
            return
        tmp = state_path + ".tmp"
        torch.save({"model": model.state_dict(), "optimizer": optimizer.state_dict(),
                    "step": step}, tmp)
        os.replace(tmp, state_path)
        checkpoint.export(model, os.path.join(args.work, "checkpoint"))
        # A numbered copy too, to evaluate while the run goes on.
        checkpoint.export(model, os.path.join(args.work, "checkpoints", "step-%06d" % step))

    # Only the rows of the data's tokens get gradients; the others stay zero.
    embedding = model.decoder.token_embedding.weight
    others = [p for p in model.parameters() if p is not embedding]
    maker = data.WindowMaker(corpus, args.seed)
    front_end = MelFrontEnd(dims.n_mels)
    share = args.batch // args.workers
    started = last_save = last_log = time.time()
    first_step = last_logged_step = step
    smoothed = None
    skipped = 0
    model.train()
    while step < args.steps:
        lr = learning_rate(step, args.steps, args.learning_rate, args.warmup)
        if step - warm_from < args.warmup and warm_from:
            lr *= (step - warm_from + 1) / args.warmup
        for group in optimizer.param_groups:
            group["lr"] = lr
        short = step < args.short_fraction * args.steps
        mel, inputs, targets, texts = make_batch(maker, front_end,
                                                 step * args.batch + rank * share, share, short)
        loss, ctc = model.training_loss(mel, inputs, targets, texts if args.ctc_weight else None)
        optimizer.zero_grad(set_to_none=False)
        (loss + args.ctc_weight * ctc).backward()
        # Average the gradients (and the losses, for the log) over the workers.
        flat = torch.cat([p.grad.reshape(-1) for p in others] +
                         [embedding.grad[model.active].reshape(-1), loss.detach().reshape(1),
                          ctc.detach().reshape(1)])
        dist.all_reduce(flat)
        flat /= args.workers
        offset = 0
        for p in others:
            p.grad.copy_(flat[offset:offset + p.numel()].view_as(p))
            offset += p.numel()
        rows = embedding.grad[model.active]
        embedding.grad[model.active] = flat[offset:offset + rows.numel()].view_as(rows)
        mean_loss, mean_ctc = float(flat[-2]), float(flat[-1])
        # Every worker holds the same averaged gradients, so all of them take
        # or skip a step alike: a step whose loss or gradients are not finite
        # is skipped rather than allowed to poison the weights.
        norm = float(torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0))
        if not (math.isfinite(norm) and math.isfinite(mean_loss) and math.isfinite(mean_ctc)):
            skipped += 1
            log("step %d skipped: loss %s, ctc %s, gradient norm %s" %
                (step + 1, mean_loss, mean_ctc, norm))
            step += 1
            continue
        optimizer.step()
        step += 1
        smoothed = mean_loss if smoothed is None else 0.98 * smoothed + 0.02 * mean_loss
        if step % 10 == 0 or step == args.steps or step <= first_step + 5:
            log("step %d/%d%s loss %.4f (smoothed %.4f) ctc %.3f grad %.2f lr %.2e, "
                "%.2f s/step, %.2f h, %d skipped" %
                (step, args.steps, " short" if short else "", mean_loss, smoothed, mean_ctc, norm,
                 lr, (time.time() - last_log) / (step - last_logged_step),
                 (time.time() - started) / 3600, skipped))
            last_log, last_logged_step = time.time(), step
        if rank == 0 and (time.time() - last_save > args.save_minutes * 60 or
                          step == args.steps):
            if all(torch.isfinite(p).all() for p in model.parameters()):
                save()
                log("saved at step %d" % step)
            else:
                log("weights not finite at step %d: not saved" % step)
            last_save = time.time()
